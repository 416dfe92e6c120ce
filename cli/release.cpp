#include "cli/release.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_set>

#include "inspect/diff.h"
#include "inspect/sbom.h"
#include "platform/platform.h"

namespace cli {

namespace {

std::string jsonBool(bool b) { return b ? "true" : "false"; }
std::string jsonText(const std::string& s) { return s.empty() ? "null" : jsonString(s); }

std::string namesJson(const pe::NameFields& n) {
    return "{\"organization\": " + jsonText(n.organization) + ", \"common-name\": " + jsonText(n.commonName) + "}";
}

const char* timestampKey(pe::TimestampKind kind) {
    switch (kind) {
        case pe::TimestampKind::Legacy: return "legacy";
        case pe::TimestampKind::Rfc3161: return "rfc3161";
        case pe::TimestampKind::None: break;
    }
    return "";
}

std::string digestText(pe::DigestKind kind) { return pe::digestName(kind); }

std::string stateJson(pe::Hardening::State s) {
    switch (s) {
        case pe::Hardening::State::On: return "true";
        case pe::Hardening::State::Off: return "false";
        case pe::Hardening::State::NotApplicable: break;
    }
    return "null";
}
std::string stateCsv(pe::Hardening::State s) {
    const std::string j = stateJson(s);
    return j == "null" ? std::string() : j;
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (const std::string& i : items) out += (out.empty() ? "" : separator) + i;
    return out;
}

// The signature and hardening members of the rows (--signatures,
// --hardening): a signature for the files the release ships (the listed
// ones and the ship set's), whose signatures are the question; the
// hardening of every file a row names.
class CheckFields final : public ExtraFields {
public:
    CheckFields(release::FileChecks& checks, const ReleaseOptions& asked, const std::vector<std::string>& shipped)
        : checks_(checks), signatures_(asked.signatures), hardening_(asked.hardening) {
        for (const std::string& p : shipped) shipped_.insert(platform::listPath(p));
    }

    std::vector<std::string> csvKeys() const override {
        std::vector<std::string> keys;
        if (signatures_)
            keys = {"signature",      "signer-organization", "signer-name", "issuer-organization",
                    "issuer-name",    "signature-digest",    "timestamp",   "nested-signatures",
                    "sha1-only",      "not-microsoft",       "signature-damage"};
        if (hardening_)
            for (const char* k : {"aslr", "high-entropy-va", "dep", "cfg", "safeseh", "hardening-missing",
                                  "unsupported-runtime"})
                keys.emplace_back(k);
        return keys;
    }

    std::vector<std::string> csvValues(const analysis::Row& row) const override {
        std::vector<std::string> v;
        const std::string path = pathOf(row);
        if (signatures_) {
            if (!path.empty() && shipped_.count(platform::listPath(path))) {
                const signing::FileSignature& s = checks_.of(path).signature;
                const signing::Signer none;
                const signing::Signer& first = s.signers.empty() ? none : s.signers.front();
                v = {signing::statusKey(s.status),
                     first.subject.organization,
                     first.subject.commonName,
                     first.issuer.organization,
                     first.issuer.commonName,
                     digestText(first.digest),
                     first.timestampTime,
                     s.signers.empty() ? std::string() : std::to_string(s.signers.size() - 1),
                     jsonBool(s.sha1Only),
                     jsonBool(s.notMicrosoft()),
                     joined(s.damages, "; ")};
            } else {
                v.resize(11);
            }
        }
        if (hardening_) {
            const mitigations::FileHardening* h = path.empty() ? nullptr : &checks_.of(path).hardening;
            if (h && h->flags.read) {
                for (pe::Hardening::State s :
                     {h->flags.aslr, h->flags.highEntropyVa, h->flags.dep, h->flags.cfg, h->flags.safeSeh})
                    v.push_back(stateCsv(s));
                v.push_back(joined(h->flags.missing, " "));
                v.push_back(h->unsupportedRuntime ? h->unsupportedRuntime : "");
            } else {
                v.resize(v.size() + 7);
            }
        }
        return v;
    }

    std::string jsonMembers(const analysis::Row& row) const override {
        std::string out;
        const std::string path = pathOf(row);
        if (signatures_) {
            out += ", \"signature\": ";
            out += !path.empty() && shipped_.count(platform::listPath(path)) ? signatureJson(checks_.of(path).signature)
                                                                               : "null";
        }
        if (hardening_) {
            out += ", \"hardening\": ";
            out += path.empty() ? "null" : hardeningJson(checks_.of(path).hardening);
        }
        return out;
    }

private:
    // The file a row is about; empty for a problem row.
    static std::string pathOf(const analysis::Row& row) {
        switch (row.kind) {
            case analysis::RowKind::Listed: return row.importerPath;
            case analysis::RowKind::Import: return row.location ? row.location->path : std::string();
            case analysis::RowKind::Error: break;
        }
        return {};
    }

    release::FileChecks& checks_;
    bool signatures_, hardening_;  // asked for, not only read (--require-signed reads signatures)
    std::unordered_set<std::string> shipped_;
};

void append(std::string& out, const std::vector<std::string>& lines) {
    for (const std::string& l : lines) out.append(l).append(1, '\n');
}

// The report's rows, without the problems the ignore list leaves out.
std::vector<analysis::Row> keptRows(std::vector<analysis::Row> rows, const analysis::IgnoreList& ignore) {
    if (!ignore.empty())
        rows.erase(std::remove_if(rows.begin(), rows.end(), [&](const analysis::Row& r) { return ignore.ignores(r); }),
                   rows.end());
    return rows;
}

Answer diffAnswer(const ReleaseCall& call, AnalysisRun& run) {
    Answer a;
    std::vector<diff::ReportRow> before, after;
    std::string reason;
    if (!diff::readReport(call.release.diff, before, reason)) {
        a.err = "tavelin-report: --diff: " + reason + "\n";
        a.status = 2;
        return a;
    }
    const std::vector<analysis::Row> rows = keptRows(analysis::analyse(call.files, run), *call.ignore);
    // The new run read as the earlier one is: through its own JSON.
    if (!diff::parseReport(json(rows, call.other.rows), after, reason)) {
        a.err = "tavelin-report: --diff: " + reason + "\n";
        a.status = 2;
        return a;
    }
    const diff::Difference d = diff::compare(before, after, *call.ignore);
    if (call.other.format == "json") a.out = diff::json(d);
    else append(a.out, diff::textLines(d));
    a.status = d.worse() ? 1 : 0;
    return a;
}

std::vector<std::string> checkLines(const ReleaseOptions& r, release::FileChecks& checks,
                                    const std::vector<std::string>& shipped, const std::vector<Closure>& closures) {
    std::vector<std::string> out;
    if (r.signatures) {
        const std::vector<std::string> s = release::signatureLines(shipped, checks);
        out.insert(out.end(), s.begin(), s.end());
    }
    if (r.hardening) {
        const std::vector<std::string> h = release::hardeningLines(shipped, checks, closures);
        out.insert(out.end(), h.begin(), h.end());
    }
    return out;
}

Answer sbomAnswer(const ReleaseCall& call, AnalysisRun& run, release::FileChecks& checks) {
    Answer a;
    const std::vector<Closure> closures = analysis::analyseFiles(call.files, run, {}, false).closures;
    shipping::ShipSet set = shipping::shipSet(closures, run.reads(), *call.ignore);
    if (call.release.requireSigned) {
        const std::vector<std::string> bad =
            release::unsignedLines(release::shippedFiles(closures, set), checks, *call.ignore);
        set.problems.insert(set.problems.end(), bad.begin(), bad.end());
    }
    sbom::Options options;
    options.toolVersion = call.toolVersion;
    options.checks = &checks;
    options.signatures = call.release.signatures;
    options.hardening = call.release.hardening;
    // Reproducible builds set the time of the release.
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
        char* end = nullptr;
        const long long t = std::strtoll(epoch, &end, 10);
        if (end && !*end) options.time = t;
    }
    a.out = sbom::cyclonedx(closures, set, run.reads(), options);
    for (const auto* lines : {&set.problems, &set.refusals, &set.notices}) append(a.err, *lines);
    a.status = set.refused() ? 1 : 0;
    return a;
}

Answer shipWithChecks(const ReleaseCall& call, AnalysisRun& run, release::FileChecks& checks) {
    ShipExtras extras;
    const ReleaseOptions& r = call.release;
    extras.amend = [&](const std::vector<Closure>& closures, shipping::ShipSet& set) {
        const std::vector<std::string> shipped = release::shippedFiles(closures, set);
        if (r.requireSigned) {
            const std::vector<std::string> bad = release::unsignedLines(shipped, checks, *call.ignore);
            set.problems.insert(set.problems.end(), bad.begin(), bad.end());
        }
        return checkLines(r, checks, shipped, closures);
    };
    extras.jsonMembers = [&](const shipping::ShipDll& d) {
        std::string out;
        if (r.signatures) out += ", \"signature\": " + signatureJson(checks.of(d.path()).signature);
        if (r.hardening) out += ", \"hardening\": " + hardeningJson(checks.of(d.path()).hardening);
        return out;
    };
    return shipAnswer(call.files, run, *call.ignore, call.other.format == "json", call.other.copyTo, extras);
}

Answer reportWithChecks(const ReleaseCall& call, AnalysisRun& run, release::FileChecks& checks) {
    Answer a;
    analysis::Analysis analysed = analysis::analyseFiles(call.files, run);
    const shipping::ShipSet set = shipping::shipSet(analysed.closures, run.reads(), *call.ignore);
    const std::vector<std::string> shipped = release::shippedFiles(analysed.closures, set);
    const std::vector<analysis::Row> rows = keptRows(std::move(analysed.rows), *call.ignore);
    const CheckFields fields(checks, call.release, shipped);
    RowFormat format = call.other.rows;
    format.extra = &fields;
    if (call.other.format == "csv") {
        a.out = csv(rows, format);
    } else if (call.other.format == "json") {
        a.out = json(rows, format);
    } else {
        a.out = call.text(rows);
        const std::vector<std::string> more = checkLines(call.release, checks, shipped, analysed.closures);
        if (!more.empty() && !a.out.empty()) a.out += "\n";
        append(a.out, more);
    }
    a.status = analysis::hasErrors(rows) ? 1 : 0;
    if (call.release.requireSigned) {
        const std::vector<std::string> bad = release::unsignedLines(shipped, checks, *call.ignore);
        append(a.err, bad);
        if (!bad.empty()) a.status = 1;
    }
    return a;
}

}  // namespace

std::string signatureJson(const signing::FileSignature& s) {
    std::string out = "{\"status\": " + jsonString(signing::statusKey(s.status)) + ", \"signers\": [";
    for (std::size_t i = 0; i < s.signers.size(); ++i) {
        const signing::Signer& g = s.signers[i];
        out += i ? ", {" : "{";
        out += "\"subject\": " + namesJson(g.subject) + ", \"issuer\": " + namesJson(g.issuer);
        out += ", \"digest\": " + jsonText(digestText(g.digest));
        out += ", \"timestamp\": " + jsonText(timestampKey(g.timestamp));
        out += ", \"timestamp-time\": " + jsonText(g.timestampTime);
        out += ", \"nested\": " + jsonBool(g.nested) + "}";
    }
    out += "], \"sha1-only\": " + jsonBool(s.sha1Only) + ", \"microsoft\": " + jsonBool(s.microsoft);
    out += ", \"redistributable\": " + jsonText(s.redistributable ? s.redistributable : "");
    out += ", \"not-microsoft\": " + jsonBool(s.notMicrosoft()) + ", \"damages\": [";
    for (std::size_t i = 0; i < s.damages.size(); ++i) out += (i ? ", " : "") + jsonString(s.damages[i]);
    return out + "]}";
}

std::string hardeningJson(const mitigations::FileHardening& h) {
    if (!h.flags.read) return "null";
    std::string out = "{\"aslr\": " + stateJson(h.flags.aslr) + ", \"high-entropy-va\": " + stateJson(h.flags.highEntropyVa);
    out += ", \"dep\": " + stateJson(h.flags.dep) + ", \"cfg\": " + stateJson(h.flags.cfg);
    out += ", \"safeseh\": " + stateJson(h.flags.safeSeh) + ", \"missing\": [";
    for (std::size_t i = 0; i < h.flags.missing.size(); ++i) out += (i ? ", " : "") + jsonString(h.flags.missing[i]);
    out += "], \"unsupported-runtime\": " + jsonText(h.unsupportedRuntime ? h.unsupportedRuntime : "");
    return out + "}";
}

std::string releaseContradiction(const ReleaseOptions& r, const OtherOptions& o) {
    const bool checks = r.signatures || r.requireSigned || r.hardening;
    const char* check = r.signatures ? "--signatures" : r.requireSigned ? "--require-signed" : "--hardening";
    if (!r.diff.empty()) {
        if (r.cyclonedx || o.format == "csv")
            return "--diff prints what changed as text or json, not " + o.format;
        const char* other = o.ship      ? "--ship"
                            : !o.copyTo.empty() ? "--copy-to"
                            : o.tree    ? "--tree"
                            : o.why     ? "--why"
                            : o.unique  ? "--unique"
                            : o.missing ? "--missing"
                            : checks    ? check
                                        : nullptr;
        if (other) return std::string("--diff compares two reports; ") + other + " is for one run";
        return {};
    }
    if (r.cyclonedx) {
        if (!o.copyTo.empty()) return "--format cyclonedx writes the SBOM of the ship set; --copy-to copies it";
        if (o.tree || o.why) return std::string("--format cyclonedx writes the SBOM; ") + (o.tree ? "--tree" : "--why") +
                                    " draws text";
        if (o.unique || o.missing)
            return std::string("--format cyclonedx writes every component; ") + (o.unique ? "--unique" : "--missing") +
                   " is for the report";
        return {};
    }
    if (checks && (o.tree || o.why))
        return std::string(check) + " checks the files of the report or of --ship; " + (o.tree ? "--tree" : "--why") +
               " draws text";
    return {};
}

bool releaseFollowsClosure(const ReleaseOptions& release, const OtherOptions& other) {
    return release.cyclonedx || other.ship || !other.copyTo.empty();
}

Answer releaseAnswer(const ReleaseCall& call, AnalysisRun& run) {
    if (!call.release.diff.empty()) return diffAnswer(call, run);
    const ReleaseOptions& r = call.release;
    release::FileChecks checks(r.signatures || r.requireSigned, r.hardening);
    if (r.cyclonedx) return sbomAnswer(call, run, checks);
    if (call.other.ship || !call.other.copyTo.empty()) return shipWithChecks(call, run, checks);
    return reportWithChecks(call, run, checks);
}

}  // namespace cli
