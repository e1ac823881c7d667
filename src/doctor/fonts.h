#pragma once

#include <string>

namespace vosdoctor {

/// The family of an installed font that covers Japanese (fontconfig's
/// `:lang=ja`, as `fc-list :lang=ja`), or empty when there is none.
std::string JapaneseFontFamily();

}  // namespace vosdoctor
