#include "doctor/fonts.h"

#include <fontconfig/fontconfig.h>

#include <memory>

namespace vosdoctor {

std::string JapaneseFontFamily() {
    // A configuration of its own, loaded now, so that FONTCONFIG_FILE and newly
    // installed fonts count and nothing is left in fontconfig's global state.
    const std::unique_ptr<FcConfig, decltype(&FcConfigDestroy)> config(FcInitLoadConfigAndFonts(), FcConfigDestroy);
    if (!config) return {};
    const std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> pattern(FcNameParse(
        reinterpret_cast<const FcChar8*>(":lang=ja")), FcPatternDestroy);
    const std::unique_ptr<FcObjectSet, decltype(&FcObjectSetDestroy)> family(FcObjectSetBuild(FC_FAMILY, nullptr),
                                                                            FcObjectSetDestroy);
    if (!pattern || !family) return {};
    const std::unique_ptr<FcFontSet, decltype(&FcFontSetDestroy)> fonts(
        FcFontList(config.get(), pattern.get(), family.get()), FcFontSetDestroy);
    if (!fonts) return {};
    for (int i = 0; i < fonts->nfont; ++i) {
        FcChar8* name = nullptr;
        if (FcPatternGetString(fonts->fonts[i], FC_FAMILY, 0, &name) == FcResultMatch && name != nullptr) {
            return reinterpret_cast<const char*>(name);
        }
    }
    return {};
}

}  // namespace vosdoctor
