#include "kivds/camera/sim/SimConfig.h"

#include <cstdio>
#include <utility>

#include "kivds/camera/ModelName.h"
#include "kivds/platform/AsciiCase.h"
#include "kivds/platform/Env.h"

namespace kiv {
namespace sim {
namespace {

struct OpName {
    const char* name;
    SimOp op;
};
constexpr OpName kOps[] = {
    {"bind", SimOp::Bind},
    {"caps", SimOp::Caps},
    {"setformat", SimOp::SetFormat},
    {"connect", SimOp::Connect},
    {"run", SimOp::Run},
    {"stop", SimOp::Stop},
    {"grab", SimOp::Grab},
    {"preview", SimOp::Preview},
    {"sourcerect", SimOp::SourceRect},
    {"propertypages", SimOp::PropertyPages},
    {"xu", SimOp::Xu},
    {"xuget", SimOp::XuGet},
    {"xuset", SimOp::XuSet},
    {"stream", SimOp::Stream},
};

struct KindName {
    const char* name;
    PlatformResult result;
};
constexpr KindName kKinds[] = {{"notfound", PlatformResult::NotFound},
                               {"busy", PlatformResult::Busy},
                               {"failed", PlatformResult::Failed}};

struct EncodingName {
    const char* name;
    Guid subtype;
};
const EncodingName kEncodings[] = {{"mjpeg", MediaSubtypeMJPG}, {"yuy2", MediaSubtypeYUY2}, {"nv12", MediaSubtypeNV12}};

}  // namespace

const char* SimOpName(SimOp op) {
    for (const OpName& o : kOps)
        if (o.op == op) return o.name;
    return "?";
}

const char* SimFailureName(PlatformResult result) {
    for (const KindName& k : kKinds)
        if (k.result == result) return k.name;
    return "ok";
}

namespace {

bool SameKeyword(const std::string& text, const char* keyword) { return EqualsIgnoringAsciiCase(text, keyword); }

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

bool ParseUnsigned(const std::string& text, std::uint64_t max, std::uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= max;
}

bool ParseHexByte(const std::string& text, std::uint8_t& value) {
    if (text.empty() || text.size() > 2) return false;
    unsigned v = 0;
    for (char c : text) {
        const char l = AsciiLower(c);
        if (l >= '0' && l <= '9') v = v * 16 + static_cast<unsigned>(l - '0');
        else if (l >= 'a' && l <= 'f') v = v * 16 + static_cast<unsigned>(l - 'a' + 10);
        else return false;
    }
    value = static_cast<std::uint8_t>(v);
    return true;
}

// "W x H" with both in 1 ... kMaxDimension.
bool ParseSize(const std::string& text, std::int32_t& width, std::int32_t& height) {
    std::size_t x = std::string::npos;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (AsciiLower(text[i]) == 'x') {
            x = i;
            break;
        }
    if (x == std::string::npos) return false;
    std::uint64_t w = 0, h = 0;
    if (!ParseUnsigned(text.substr(0, x), kMaxDimension, w) || !ParseUnsigned(text.substr(x + 1), kMaxDimension, h))
        return false;
    if (w == 0 || h == 0) return false;
    width = static_cast<std::int32_t>(w);
    height = static_cast<std::int32_t>(h);
    return true;
}

bool ParseCaps(const std::string& value, std::vector<StreamCapability>& caps) {
    caps.clear();
    for (const std::string& item : Split(value, ',')) {
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos) return false;
        const std::string encoding = item.substr(0, colon);
        StreamCapability cap;
        bool known = false;
        for (const EncodingName& e : kEncodings)
            if (SameKeyword(encoding, e.name)) {
                cap.subtype = e.subtype;
                known = true;
            }
        if (!known || !ParseSize(item.substr(colon + 1), cap.width, cap.height)) return false;
        caps.push_back(cap);
    }
    return true;
}

bool ParseFailures(const std::string& value, SimDevice& device) {
    for (const std::string& item : Split(value, ',')) {
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos) return false;
        const std::string opText = item.substr(0, colon);
        const std::string kindText = item.substr(colon + 1);
        const OpName* op = nullptr;
        for (const OpName& o : kOps)
            if (SameKeyword(opText, o.name)) op = &o;
        const KindName* kind = nullptr;
        for (const KindName& k : kKinds)
            if (SameKeyword(kindText, k.name)) kind = &k;
        if (!op || !kind) return false;
        device.failures[static_cast<std::size_t>(op->op)] = kind->result;
    }
    return true;
}

bool ParseButtons(const std::string& value, std::vector<std::uint8_t>& buttons) {
    buttons.clear();
    for (const std::string& item : Split(value, ',')) {
        std::uint8_t byte = 0;
        if (!ParseHexByte(item, byte)) return false;
        buttons.push_back(byte);
    }
    return true;
}

bool ParseDevice(const std::string& text, SimDevice& device, std::string& badField) {
    bool currentGiven = false, unitGiven = false;
    for (const std::string& field : Split(text, ';')) {
        badField = field;
        const std::size_t eq = field.find('=');
        if (eq == std::string::npos) return false;
        const std::string key = field.substr(0, eq);
        const std::string value = field.substr(eq + 1);
        bool ok = true;
        if (SameKeyword(key, "name")) {
            device.name = WidenUtf8(value);
        } else if (SameKeyword(key, "path")) {
            device.path = WidenUtf8(value);
        } else if (SameKeyword(key, "caps")) {
            ok = ParseCaps(value, device.caps);
        } else if (SameKeyword(key, "current")) {
            currentGiven = true;
            if (SameKeyword(value, "none")) device.hasCurrent = false;
            else ok = device.hasCurrent = ParseSize(value, device.currentWidth, device.currentHeight);
        } else if (SameKeyword(key, "fail")) {
            ok = ParseFailures(value, device);
        } else if (SameKeyword(key, "lose")) {
            std::uint64_t n = 0;
            ok = ParseUnsigned(value, UINT64_C(1) << 62, n);
            device.loseAfterFrames = n;
        } else if (SameKeyword(key, "xu")) {
            unitGiven = true;
            if (SameKeyword(value, "a")) device.unit = SimUnit::A;
            else if (SameKeyword(value, "b")) device.unit = SimUnit::B;
            else if (SameKeyword(value, "none")) device.unit = SimUnit::None;
            else ok = false;
        } else if (SameKeyword(key, "buttons")) {
            ok = ParseButtons(value, device.buttons);
        } else if (SameKeyword(key, "controls")) {
            device.controls = SameKeyword(value, "standard");
            ok = device.controls || SameKeyword(value, "none");
        } else if (SameKeyword(key, "fps")) {
            std::uint64_t n = 0;
            ok = ParseUnsigned(value, kMaxFps, n) && n > 0;
            device.fps = static_cast<unsigned>(n);
        } else {
            ok = false;
        }
        if (!ok) return false;
    }
    badField.clear();
    if (!currentGiven) {
        device.currentWidth = device.caps.front().width;
        device.currentHeight = device.caps.front().height;
    }
    if (!unitGiven) {
        if (SameModelName(device.name, kModelA)) device.unit = SimUnit::A;
        else if (SameModelName(device.name, kModelB)) device.unit = SimUnit::B;
        else device.unit = SimUnit::None;
    }
    return true;
}

}  // namespace

SimDevice::SimDevice()
    : caps{{MediaSubtypeMJPG, true, 1920, 1080},
           {MediaSubtypeMJPG, true, 1280, 720},
           {MediaSubtypeMJPG, true, 640, 480},
           {MediaSubtypeYUY2, true, 640, 480}},
      currentWidth(1920),
      currentHeight(1080) {
    failures.fill(PlatformResult::Ok);
}

bool ParseSimConfig(const std::string& text, SimConfig& config, std::string& error) {
    config.devices.clear();
    error.clear();
    if (text.empty() || SameKeyword(text, "none")) return true;
    const std::vector<std::string> deviceTexts = Split(text, '|');
    for (std::size_t i = 0; i < deviceTexts.size(); ++i) {
        SimDevice device;
        std::string badField;
        if (!ParseDevice(deviceTexts[i], device, badField)) {
            config.devices.clear();
            error = "bad field \"" + badField + "\" in device " + std::to_string(i + 1);
            return false;
        }
        config.devices.push_back(std::move(device));
    }
    return true;
}

SimConfig LoadSimConfig() {
    SimConfig config;
    const std::optional<std::string> text = GetEnv("KIVDS_SIM");
    if (!text) {
        config.devices.emplace_back();
        return config;
    }
    std::string error;
    if (!ParseSimConfig(*text, config, error))
        std::fprintf(stderr, "kivds: KIVDS_SIM: %s; simulating no video device\n", error.c_str());
    return config;
}

std::wstring WidenUtf8(const std::string& text) {
    std::wstring out;
    const std::size_t n = text.size();
    std::size_t i = 0;
    auto put = [&out](char32_t cp) {
        if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(cp));
        }
    };
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int extra = 0;
        char32_t cp = 0;
        if (c < 0x80) cp = c;
        else if ((c & 0xE0) == 0xC0) extra = 1, cp = c & 0x1F;
        else if ((c & 0xF0) == 0xE0) extra = 2, cp = c & 0x0F;
        else if ((c & 0xF8) == 0xF0) extra = 3, cp = c & 0x07;
        else {
            put(0xFFFD);
            ++i;
            continue;
        }
        bool valid = i + static_cast<std::size_t>(extra) < n || extra == 0;
        for (int k = 1; valid && k <= extra; ++k) {
            const unsigned char cc = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((cc & 0xC0) != 0x80) valid = false;
            else cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (!valid || cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            put(0xFFFD);
            ++i;
            continue;
        }
        put(cp);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

}  // namespace sim
}  // namespace kiv
