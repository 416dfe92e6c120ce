#include "inspect/dotnet/jsonfile.h"

#include <new>
#include <vector>

#include "platform/platform.h"

namespace dotnet::detail {

namespace {

// One pass over the text, outside strings and comments: the nesting depth,
// and where the first top-level value ends (the host stops there and so do
// we). False when the depth passes the limit.
bool measure(std::string_view t, std::size_t& end, std::string& reason) {
    unsigned depth = 0;
    bool started = false;
    end = t.size();
    for (std::size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        if (c == '"') {
            for (++i; i < t.size() && t[i] != '"'; ++i)
                if (t[i] == '\\') ++i;
        } else if (c == '/' && i + 1 < t.size() && t[i + 1] == '/') {
            while (i < t.size() && t[i] != '\n') ++i;
        } else if (c == '/' && i + 1 < t.size() && t[i + 1] == '*') {
            const std::size_t close = t.find("*/", i + 2);
            i = close == std::string_view::npos ? t.size() : close + 1;
        } else if (c == '{' || c == '[') {
            started = true;
            if (++depth > kMaxJsonDepth) {
                reason = "nested more than " + std::to_string(kMaxJsonDepth) + " levels deep";
                return false;
            }
        } else if ((c == '}' || c == ']') && depth > 0) {
            if (--depth == 0 && started) {
                end = i + 1;
                return true;
            }
        }
    }
    return true;
}

}  // namespace

JsonRead parseJson(std::string_view text, nlohmann::ordered_json& out, std::string& reason) {
    try {
        if (text.size() > kMaxJsonBytes) {
            reason = "larger than " + std::to_string(kMaxJsonBytes >> 20) + " MB";
            return JsonRead::Damaged;
        }
        if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        std::size_t end = 0;
        if (!measure(text, end, reason)) return JsonRead::Damaged;
        out = nlohmann::ordered_json::parse(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(end), nullptr,
                                    /*allow_exceptions=*/false, /*ignore_comments=*/true);
        if (out.is_discarded()) {
            reason = "not valid JSON";
            return JsonRead::Damaged;
        }
        if (!out.is_object()) {
            reason = "not a JSON object";
            return JsonRead::Damaged;
        }
        return JsonRead::Read;
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    } catch (const std::exception& e) {
        reason = e.what();
    }
    out = nullptr;
    return JsonRead::Damaged;
}

JsonRead parseJson(const platform::ByteSource& bytes, nlohmann::ordered_json& out, std::string& reason) {
    if (bytes.size() > kMaxJsonBytes) {
        reason = "larger than " + std::to_string(kMaxJsonBytes >> 20) + " MB";
        return JsonRead::Damaged;
    }
    try {
        std::string text(static_cast<std::size_t>(bytes.size()), '\0');
        if (!text.empty() && !bytes.read(0, text.data(), text.size())) {
            reason = "cannot be read";
            return JsonRead::Damaged;
        }
        return parseJson(text, out, reason);
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
        return JsonRead::Damaged;
    }
}

JsonRead readJsonFile(const std::string& path, nlohmann::ordered_json& out, std::string& reason) {
    platform::FileReader file;
    const platform::MapStatus status = file.open(path);
    if (status == platform::MapStatus::NotOpenable) {
        reason = "cannot be opened";
        return JsonRead::Missing;
    }
    if (status != platform::MapStatus::Ok) {
        reason = "empty";
        return JsonRead::Damaged;
    }
    return parseJson(file, out, reason);
}

const nlohmann::ordered_json* member(const nlohmann::ordered_json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

bool stringMember(const nlohmann::ordered_json& object, const char* key, std::string& out, std::string& reason,
                  bool& present) {
    present = false;
    const nlohmann::ordered_json* value = member(object, key);
    if (!value) return true;
    if (!value->is_string()) {
        reason = std::string("\"") + key + "\" is not a string";
        return false;
    }
    present = true;
    out = value->get<std::string>();
    return true;
}

}  // namespace dotnet::detail
