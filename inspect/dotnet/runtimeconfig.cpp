// The host reads runtimeOptions in a fixed order whatever the file's: the
// properties and probing paths, the file-wide roll-forward settings, the
// target framework, then the framework references, each starting from the
// file-wide settings. It refuses rollForward beside rollForwardOnNoCandidateFx
// or applyPatches anywhere in one file, two references to one framework, a
// reference without a name, and references beside includedFrameworks.
#include "inspect/dotnet/runtimeconfig.h"

#include <algorithm>
#include <new>

#include "inspect/dotnet/jsonfile.h"
#include "platform/text.h"

namespace dotnet {

namespace {

using json = nlohmann::ordered_json;

const char* const kNames[] = {"Disable", "LatestPatch", "Minor", "LatestMinor", "Major", "LatestMajor"};

struct Settings {
    std::optional<RollForward> rollForward;
    std::optional<bool> applyPatches;
    std::optional<long long> noCandidateFx;
};

class Reader {
public:
    explicit Reader(RuntimeConfig& out) : out_(out) {}

    bool options(const json& opts) {
        if (opts.is_null()) return true;
        if (!opts.is_object()) return fail("\"runtimeOptions\" is not an object");
        if (const json* props = detail::member(opts, "configProperties")) {
            if (!props->is_object()) return fail("\"configProperties\" is not an object");
            for (const auto& [key, value] : props->items())
                out_.properties.emplace_back(key, value.is_string() ? value.get<std::string>() : value.dump());
        }
        if (const json* probes = detail::member(opts, "additionalProbingPaths")) {
            if (probes->is_string()) {
                out_.additionalProbingPaths.push_back(probes->get<std::string>());
            } else if (probes->is_array()) {
                for (const json& p : *probes) {
                    if (!p.is_string()) return fail("\"additionalProbingPaths\" holds other than strings");
                    out_.additionalProbingPaths.push_back(p.get<std::string>());
                }
            } else {
                return fail("\"additionalProbingPaths\" is neither a string nor a list");
            }
        }
        Settings own;
        if (!settings(opts, own, "runtimeOptions")) return false;
        out_.rollForward = own.rollForward;
        out_.applyPatches = own.applyPatches;
        out_.rollForwardOnNoCandidateFx = own.noCandidateFx;
        if (own.rollForward) defaults_.rollForward = *own.rollForward;
        if (own.applyPatches) defaults_.applyPatches = *own.applyPatches;
        // Read after rollForward by the host, so it wins where both are (the
        // file is refused then anyway).
        if (own.noCandidateFx) defaults_.rollForward = rollForwardFromNoCandidateFx(*own.noCandidateFx);

        bool present = false;
        if (!detail::stringMember(opts, "tfm", out_.tfm, out_.reason, present)) return false;

        if (const json* fx = detail::member(opts, "framework")) {
            out_.frameworkDependent = true;
            FrameworkReference ref;
            if (!reference(*fx, ref, false)) return false;
            out_.frameworks.push_back(std::move(ref));
        }
        if (const json* list = detail::member(opts, "frameworks")) {
            out_.frameworkDependent = true;
            if (!references(*list, out_.frameworks, false)) return false;
        }
        if (const json* included = detail::member(opts, "includedFrameworks")) {
            if (out_.frameworkDependent)
                return fail("both \"framework\"/\"frameworks\" and \"includedFrameworks\" are given");
            if (!references(*included, out_.includedFrameworks, true)) return false;
        }
        return true;
    }

    bool fail(std::string why) {
        out_.reason = std::move(why);
        return false;
    }

private:
    // rollForward, applyPatches and rollForwardOnNoCandidateFx of one object.
    bool settings(const json& object, Settings& s, const std::string& where) {
        if (const json* v = detail::member(object, "rollForward")) {
            if (!v->is_string()) return fail("\"rollForward\" of " + where + " is not a string");
            const std::string text = v->get<std::string>();
            s.rollForward = parseRollForward(text);
            if (!s.rollForward) return fail("\"rollForward\" of " + where + " is not a known policy: " + text);
            if (!mark(false)) return false;
        }
        if (const json* v = detail::member(object, "applyPatches")) {
            if (!v->is_boolean()) return fail("\"applyPatches\" of " + where + " is not true or false");
            s.applyPatches = v->get<bool>();
            if (!mark(true)) return false;
        }
        if (const json* v = detail::member(object, "rollForwardOnNoCandidateFx")) {
            if (!v->is_number_integer()) return fail("\"rollForwardOnNoCandidateFx\" of " + where + " is not a number");
            s.noCandidateFx = v->get<long long>();
            if (!mark(true)) return false;
        }
        return true;
    }

    // The host allows one kind of setting per file: the policy, or the two
    // settings it replaced.
    bool mark(bool legacy) {
        (legacy ? legacy_ : policy_) = true;
        if (legacy_ && policy_)
            return fail("\"rollForward\" is given with \"rollForwardOnNoCandidateFx\" or \"applyPatches\"");
        return true;
    }

    bool reference(const json& fx, FrameworkReference& ref, bool nameAndVersionOnly) {
        if (!fx.is_object()) return fail("a framework reference is not an object");
        ref.rollForward = defaults_.rollForward;
        ref.applyPatches = defaults_.applyPatches;
        bool present = false;
        if (!detail::stringMember(fx, "name", ref.name, out_.reason, present)) return false;
        if (!detail::stringMember(fx, "version", ref.version, out_.reason, present)) return false;
        if (nameAndVersionOnly) return true;
        Settings own;
        if (!settings(fx, own, ref.name.empty() ? std::string("a framework") : ref.name)) return false;
        if (own.rollForward) ref.rollForward = *own.rollForward;
        if (own.applyPatches) ref.applyPatches = *own.applyPatches;
        if (own.noCandidateFx) ref.rollForward = rollForwardFromNoCandidateFx(*own.noCandidateFx);
        return true;
    }

    bool references(const json& list, std::vector<FrameworkReference>& into, bool nameAndVersionOnly) {
        if (!list.is_array()) return fail("a list of frameworks is not a list");
        for (const json& fx : list) {
            FrameworkReference ref;
            if (!reference(fx, ref, nameAndVersionOnly)) return false;
            if (ref.name.empty()) return fail("a framework reference has no name");
            if (std::any_of(into.begin(), into.end(), [&](const FrameworkReference& r) { return r.name == ref.name; }))
                return fail("framework " + ref.name + " is named twice");
            into.push_back(std::move(ref));
        }
        return true;
    }

    RuntimeConfig& out_;
    struct {
        RollForward rollForward = RollForward::Minor;
        bool applyPatches = true;
    } defaults_;
    bool policy_ = false, legacy_ = false;
};

RuntimeConfig fromJson(detail::JsonRead read, const json& root, std::string reason) {
    RuntimeConfig out;
    out.reason = std::move(reason);
    if (read == detail::JsonRead::Missing) return out;
    out.outcome = RuntimeConfig::Outcome::Damaged;
    if (read == detail::JsonRead::Damaged) return out;
    try {
        const json* opts = detail::member(root, "runtimeOptions");
        Reader reader(out);
        if (!opts) {
            reader.fail("no \"runtimeOptions\"");
            return out;
        }
        if (!reader.options(*opts)) return out;
        out.outcome = RuntimeConfig::Outcome::Read;
        out.reason.clear();
    } catch (const std::bad_alloc&) {
        out.reason = "out of memory";
    } catch (const std::exception& e) {
        out.reason = e.what();
    }
    return out;
}

}  // namespace

std::optional<RollForward> parseRollForward(std::string_view text) {
    for (int i = 0; i <= static_cast<int>(RollForward::LatestMajor); ++i)
        if (platform::equalsIgnoringCase(text, kNames[i])) return static_cast<RollForward>(i);
    return std::nullopt;
}

const char* rollForwardName(RollForward policy) { return kNames[static_cast<int>(policy)]; }

RollForward rollForwardFromNoCandidateFx(long long value) {
    switch (value) {
    case 0: return RollForward::LatestPatch;
    case 1: return RollForward::Minor;
    case 2: return RollForward::Major;
    default: return RollForward::Disable;
    }
}

RuntimeConfig parseRuntimeConfig(std::string_view text) {
    nlohmann::ordered_json root;
    std::string reason;
    const detail::JsonRead read = detail::parseJson(text, root, reason);
    return fromJson(read, root, std::move(reason));
}

RuntimeConfig parseRuntimeConfig(const platform::ByteSource& bytes) {
    nlohmann::ordered_json root;
    std::string reason;
    const detail::JsonRead read = detail::parseJson(bytes, root, reason);
    return fromJson(read, root, std::move(reason));
}

RuntimeConfig readRuntimeConfig(const std::string& path) {
    nlohmann::ordered_json root;
    std::string reason;
    const detail::JsonRead read = detail::readJsonFile(path, root, reason);
    return fromJson(read, root, std::move(reason));
}

}  // namespace dotnet
