#include "device/access.h"

#include <array>
#include <climits>
#include <cstring>

std::uint32_t DeviceOpen(const D2xxApi& api, const char* serial, FT_HANDLE* handle) {
    if (handle == nullptr) return RESULT_INVALID_PARAMETER;
    FT_STATUS status;
    if (serial != nullptr) {
        status = api.FT_OpenEx(const_cast<char*>(serial), FT_OPEN_BY_SERIAL_NUMBER, handle);
    } else {
        char description[64] = {};
        std::strncpy(description, LOGGER_DESCRIPTION, sizeof description - 1);
        status = api.FT_OpenEx(description, FT_OPEN_BY_DESCRIPTION, handle);
    }
    if (status != FT_OK) return status;

    status = api.FT_ResetDevice(*handle);
    if (status == FT_OK) status = api.FT_SetBaudRate(*handle, LINK_BAUD_RATE);
    if (status == FT_OK) status = api.FT_Purge(*handle, FT_PURGE_RX | FT_PURGE_TX);
    if (status == FT_OK) status = api.FT_SetTimeouts(*handle, LINK_TIMEOUT_MS, LINK_TIMEOUT_MS);
    if (status != FT_OK) {
        api.FT_Close(*handle);
        *handle = nullptr;
    }
    return status;
}

std::uint32_t DeviceClose(const D2xxApi& api, FT_HANDLE handle) { return api.FT_Close(handle); }

std::uint32_t DeviceExchange(const D2xxApi& api, FT_HANDLE handle, const void* write,
                             std::uint32_t writeLength, void* read, std::uint32_t readLength) {
    const bool writePhase = write != nullptr && writeLength != 0;
    const bool readPhase = read != nullptr && readLength != 0;
    if (!writePhase && !readPhase) return RESULT_INVALID_PARAMETER;
    if (writePhase) {
        DWORD written = 0;
        const FT_STATUS status = api.FT_Write(handle, const_cast<void*>(write), writeLength, &written);
        if (status != FT_OK) return status;
        if (written != writeLength) return RESULT_COMMUNICATION;
    }
    if (readPhase) {
        DWORD received = 0;
        const FT_STATUS status = api.FT_Read(handle, read, readLength, &received);
        if (status != FT_OK) return status;
        if (received != readLength) return RESULT_COMMUNICATION;
    }
    return RESULT_OK;
}

std::uint32_t DeviceReadCalibration(const D2xxApi& api, FT_HANDLE handle, std::uint8_t* block) {
    if (block == nullptr) return RESULT_INVALID_PARAMETER;
    DWORD received = 0;
    const FT_STATUS status = api.FT_EE_UARead(handle, block, CALIBRATION_BLOCK_SIZE, &received);
    if (status != FT_OK) return status;
    return received == CALIBRATION_BLOCK_SIZE ? RESULT_OK : RESULT_CALIBRATION_SIZE;
}

namespace {

// The driver writes texts of its own length; it gets this much room, and
// only a bounded copy reaches the caller's slot.
constexpr std::size_t DRIVER_TEXT_SIZE = 64;

void* IndexArgument(DWORD index) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(index)); }

bool ListText(const D2xxApi& api, DWORD index, DWORD what, std::array<char, DRIVER_TEXT_SIZE>& text) {
    text.fill('\0');
    const FT_STATUS status = api.FT_ListDevices(IndexArgument(index), text.data(), FT_LIST_BY_INDEX | what);
    text.back() = '\0';
    return status == FT_OK;
}

}  // namespace

std::uint32_t DeviceList(const D2xxApi& api, char* const* slots, std::uint32_t* count) {
    if (slots == nullptr || count == nullptr) return RESULT_INVALID_PARAMETER;
    *count = 0;
    DWORD devices = 0;
    const FT_STATUS status = api.FT_ListDevices(&devices, nullptr, FT_LIST_NUMBER_ONLY);
    if (status != FT_OK) return status;

    std::uint32_t collected = 0;
    std::array<char, DRIVER_TEXT_SIZE> text{};
    for (DWORD i = 0; i < devices && slots[collected] != nullptr; ++i) {
        if (!ListText(api, i, FT_OPEN_BY_DESCRIPTION, text)) continue;
        if (std::strcmp(text.data(), LOGGER_DESCRIPTION) != 0) continue;
        if (!ListText(api, i, FT_OPEN_BY_SERIAL_NUMBER, text)) continue;
        char* slot = slots[collected];
        const std::size_t length = std::strlen(text.data());
        if (length < SERIAL_SLOT_SIZE) {
            std::memcpy(slot, text.data(), length + 1);
        } else {
            slot[0] = '\0';
        }
        ++collected;
    }
    *count = collected;
    return RESULT_OK;
}

std::string ResultMessage(std::uint32_t code) {
    switch (code) {
    case 0: return "正常終了しました";
    case 2: return "デバイスが見つかりません";
    case 3: return "デバイスをオープンできません";
    case RESULT_INVALID_PARAMETER: return "パラメータが無効です";
    case RESULT_COMMUNICATION: return "通信エラーが発生しました";
    default: return "その他のエラーが発生しました";
    }
}

std::int32_t SerialTextToLong(const char* text) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // Accumulated as a magnitude; the negative range is one larger.
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
    std::int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit) magnitude = limit;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::uint32_t ListSerialTexts(const D2xxApi& api, std::vector<std::string>& serials) {
    std::array<std::array<char, SERIAL_SLOT_SIZE>, MAX_SERIALS> storage{};
    std::array<char*, MAX_SERIALS + 1> slots{};
    for (std::size_t i = 0; i < MAX_SERIALS; ++i) slots[i] = storage[i].data();
    std::uint32_t count = 0;
    const std::uint32_t result = DeviceList(api, slots.data(), &count);
    if (result == RESULT_OK) {
        for (std::uint32_t i = 0; i < count; ++i) serials.emplace_back(storage[i].data());
    }
    return result;
}

SearchOutcome SearchLoggers(const D2xxApi& api) {
    SearchOutcome outcome;
    std::vector<std::string> texts;
    const std::uint32_t result = ListSerialTexts(api, texts);
    if (result != RESULT_OK) {
        outcome.result = result;
        outcome.message = ResultMessage(result);
        return outcome;
    }
    for (const std::string& text : texts) {
        const std::int32_t serial = SerialTextToLong(text.c_str());
        if (serial == 0 || serial == INT32_MAX || serial == INT32_MIN) {
            outcome.result = FT_DEVICE_NOT_FOUND;
            outcome.message = ResultMessage(FT_DEVICE_NOT_FOUND);
            return outcome;
        }
        outcome.serials.push_back(serial);
    }
    outcome.ok = true;
    outcome.selectLast = !outcome.serials.empty();
    return outcome;
}

std::uint32_t DefaultLoggerSerial(const D2xxApi& api, std::int32_t& serial) {
    const SearchOutcome outcome = SearchLoggers(api);
    if (!outcome.ok) {
        return outcome.result;
    }
    if (!outcome.selectLast) {
        return FT_DEVICE_NOT_FOUND;
    }
    serial = outcome.serials.back();
    return RESULT_OK;
}
