// Writes the fuzzers' starting corpus into the folder given as argument.
#include <cstdio>
#include <string>

#include "platform/text.h"
#include "tests/support/pewriter.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds FOLDER\n");
        return 2;
    }
    const std::string dir = argv[1];
    pew::Image plain;
    plain.import("a.dll").import("kernel32.dll");
    pew::Image plus = plain;
    plus.pe32plus = true;
    plus.version(pew::VersionInfo::simple("1.3.0.81"));
    pew::Image many;
    many.import("a.dll")
        .version(pew::VersionInfo::simple("1.0", 0x0409, 0x04B0), 0x0409)
        .version(pew::VersionInfo::simple("2.0", 0x040C, 0x04E4), 0x040C);
    many.extraSectionsFirst.push_back({0x1000, 0, 0, 0});
    pew::writeFile(dir + "/plain.exe", pew::build(plain));
    pew::writeFile(dir + "/plus.exe", pew::build(plus));
    pew::writeFile(dir + "/many.dll", pew::build(many));
    // Imports by name and ordinal of a.dll (the input itself), its own exports
    // with forwarders, and a delay-load table: the tables -f and -d read.
    pew::Image checks;
    checks.pe32plus = true;
    checks.import("a.dll", {{"Open"}, pew::ordinal(2), {"Gone"}});
    checks.exporting({"Open", "Close"});
    checks.exports.push_back({"Fwd", "a.Open", false});
    checks.exports.push_back({"Loop", "a.Loop", false});
    checks.delayImport("a.dll", {{"Close"}}).delayImport("absent.dll", {pew::ordinal(9)});
    pew::Image oldForm = checks;
    oldForm.pe32plus = false;
    oldForm.delayAddresses = true;
    pew::writeFile(dir + "/checks.dll", pew::build(checks));
    pew::writeFile(dir + "/checks-va.dll", pew::build(oldForm));
    pew::writeFile(dir + "/block.bin", pew::versionBlock(pew::VersionInfo::simple("9.9.9.9")));
    const std::vector<pew::ApiSet> sets = {{"api-ms-win-crt-heap-l1-1-0", {{"", "ucrtbase.dll"}}},
                                          {"api-ms-win-core-com-l1-1-0", {{"", "combase.dll"}, {"ole32.dll", "x.dll"}}},
                                          {"ext-ms-win-gone-l1-1-0", {}}};
    for (std::uint32_t version : {2u, 4u, 6u})
        pew::writeFile(dir + "/apiset-v" + std::to_string(version) + ".bin", pew::apiSetSchema(version, sets));
    pew::Image schema;
    schema.pe32plus = true;
    schema.dataSections.emplace_back(".apiset", pew::apiSetSchema(6, sets));
    pew::writeFile(dir + "/apisetschema.dll", pew::build(schema));

    // .NET metadata: an assembly with a full key, references by token, by
    // key and with a culture, P/Invoke modules; then wide heaps in the
    // "#-" form, and a mixed-mode PE32+ image with native imports.
    const std::vector<std::uint8_t> ecmaKey = {0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<std::uint8_t> token = {0xB7, 0x7A, 0x5C, 0x56, 0x19, 0x34, 0xE0, 0x89};
    pew::Managed managed;
    managed.assembly = pew::ManagedName{"Demo", 1, 2, 3, 4, "", ecmaKey, false};
    managed.references = {{"mscorlib", 4, 0, 0, 0, "", token, false},
                          {"Demo.resources", 1, 2, 0, 0, "fr-FR", {}, false},
                          {"Keyed", 2, 0, 0, 0, "", ecmaKey, true}};
    managed.moduleRefs = {"kernel32", "user32.dll"};
    pew::Image il;
    il.import("mscoree.dll", {{"_CorDllMain"}});
    il.managed = managed;
    pew::writeFile(dir + "/managed.dll", pew::build(il));
    pew::Image wide = il;
    wide.managed->wideStrings = wide.managed->wideBlobs = wide.managed->wideGuids = true;
    wide.managed->enc = wide.managed->extraData = true;
    pew::writeFile(dir + "/managed-wide.dll", pew::build(wide));
    pew::Image mixed = il;
    mixed.pe32plus = true;
    mixed.import("kernel32.dll", {{"GetTickCount"}});
    mixed.managed->cliFlags = 0x10;
    pew::writeFile(dir + "/mixed.dll", pew::build(mixed));
    // Manifests as real ones come: an application's with namespaces and
    // comments, in UTF-8 with a BOM and in UTF-16; an assembly's; and both
    // embedded as RT_MANIFEST resources of a program and of a DLL.
    const std::string app =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<!-- linker -->\n"
        "<asmv1:assembly manifestVersion=\"1.0\" xmlns:asmv1=\"urn:schemas-microsoft-com:asm.v1\">"
        "<asmv1:assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"amd64\" name=\"App\" type=\"win32\"/>"
        "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
        "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"
        "</dependentAssembly></dependency><dependency optional=\"yes\"><dependentAssembly allowDelayedBinding=\"true\">"
        "<assemblyIdentity name=\"Other\" version=\"1.2\"/></dependentAssembly></dependency>"
        "<file name=\"own.dll\"/></asmv1:assembly>\n";
    const std::string assembly =
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"><assemblyIdentity "
        "type=\"win32\" name=\"Microsoft.VC90.CRT\" version=\"9.0.30729.6161\" processorArchitecture=\"x86\" "
        "publicKeyToken=\"1fc8b3b9a1e18e3b\"/><file name=\"msvcr90.dll\"/><file name=\"msvcp90.dll\"/></assembly>";
    pew::writeFile(dir + "/app.manifest", "\xEF\xBB\xBF" + app);
    pew::writeFile(dir + "/crt.manifest", assembly);
    std::vector<std::uint8_t> wide16 = {0xFF, 0xFE};
    for (char16_t c : platform::utf8ToUtf16(app)) {
        wide16.push_back(static_cast<std::uint8_t>(c));
        wide16.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    pew::writeFile(dir + "/app16.manifest", wide16);
    pew::Image withManifests;
    withManifests.pe32plus = true;
    withManifests.import("comctl32.dll").manifest(app, 1).manifest(assembly, 2);
    pew::writeFile(dir + "/manifests.exe", pew::build(withManifests));
    // Load configurations: SafeSEH (PE32, the XP directory size), CFG
    // (PE32+), ARM64EC, and ARM64X with both table versions and fixups of
    // every type.
    pew::Image seh;
    seh.import("kernel32.dll");
    seh.loadConfig = pew::LoadConfig{};
    seh.loadConfig->directorySize = 64;
    seh.loadConfig->seHandlerTable = 0x10002000;
    seh.loadConfig->seHandlerCount = 2;
    seh.loadConfig->dependentLoadFlags = 0x800;
    pew::writeFile(dir + "/loadconfig32.dll", pew::build(seh));
    pew::Image cfg;
    cfg.pe32plus = true;
    cfg.import("kernel32.dll");
    cfg.dllCharacteristics = 0x4160;
    cfg.loadConfig = pew::LoadConfig{};
    cfg.loadConfig->guardCfFunctionTable = 0x180002000;
    cfg.loadConfig->guardCfFunctionCount = 4;
    cfg.loadConfig->guardFlags = 0x10500;
    pew::Image ec = cfg;
    ec.loadConfig->chpeMetadataPointer = 0x180003000;
    pew::writeFile(dir + "/loadconfig64.dll", pew::build(cfg));
    pew::writeFile(dir + "/arm64ec.dll", pew::build(ec));
    for (std::uint32_t version : {1u, 2u}) {
        pew::Image x = cfg;
        x.machine = 0xAA64;
        x.arm64x = pew::Arm64x{};
        x.arm64x->version = version;
        x.arm64x->ecImports = {"a.dll", "kernel32.dll"};
        x.arm64x->extra = {{0x1000, 2, 4, 8}, {0x1004, 0, 8, 0}, {0x100C, 1, 2, 0x1234}};
        pew::writeFile(dir + "/arm64x-v" + std::to_string(version) + ".dll", pew::build(x));
    }

    // .NET 5+: a runtime config with each kind of setting, a deps file with
    // RID-specific and resource assets, single-file bundles of each header
    // version (one entry stored deflated: any bytes do for a seed).
    pew::writeFile(dir + "/app.runtimeconfig.json", std::string(
        "{\"runtimeOptions\": {\"tfm\": \"net8.0\", \"rollForward\": \"LatestMinor\", \"framework\": "
        "{\"name\": \"Microsoft.NETCore.App\", \"version\": \"8.0.0\"}, \"frameworks\": [{\"name\": "
        "\"Microsoft.WindowsDesktop.App\", \"version\": \"8.0.0-rc.1\", \"rollForward\": \"Disable\"}], "
        "\"configProperties\": {\"System.GC.Server\": true}, \"additionalProbingPaths\": [\"p\"]}}"));
    pew::writeFile(dir + "/legacy.runtimeconfig.json", std::string(
        "{\"runtimeOptions\": {\"rollForwardOnNoCandidateFx\": 2, \"applyPatches\": false, "
        "\"includedFrameworks\": [{\"name\": \"Microsoft.NETCore.App\", \"version\": \"6.0.1\"}]}}"));
    const std::string deps =
        "{\"runtimeTarget\": {\"name\": \"t\"}, \"targets\": {\"t\": {\"A/1.0\": {\"runtime\": "
        "{\"lib/A.dll\": {}}, \"resources\": {\"lib/fr/A.resources.dll\": {\"locale\": \"fr\"}}, "
        "\"runtimeTargets\": {\"runtimes/win-x64/native/a.dll\": {\"rid\": \"win-x64\", \"assetType\": "
        "\"native\"}, \"runtimes/win/lib/A.dll\": {\"rid\": \"win\", \"assetType\": \"runtime\"}}}}}, "
        "\"libraries\": {\"A/1.0\": {\"type\": \"package\", \"serviceable\": true, \"path\": \"a/1.0\"}}}";
    pew::writeFile(dir + "/app.deps.json", deps);
    pew::Image host;
    host.pe32plus = true;
    host.dataSections.emplace_back(".data", pew::bundleMarker());
    const std::vector<std::uint8_t> apphost = pew::build(host);
    pew::writeFile(dir + "/apphost.exe", apphost);
    const std::vector<pew::BundleFile> files = {
        {"App.dll", 1, {'M', 'Z'}, 0},
        {"App.deps.json", 3, std::vector<std::uint8_t>(deps.begin(), deps.end()), 0},
        {"App.runtimeconfig.json", 4, {'{', '}'}, 0},
        {"native.dll", 2, {0x4B, 0x04, 0x00}, 2}};
    for (std::uint32_t version : {1u, 2u, 6u})
        pew::writeFile(dir + "/bundle-v" + std::to_string(version) + ".exe", pew::bundle(apphost, version, files));

    // A report as --format json writes it, for --diff: a listed file, a DLL
    // with the members --signatures and --hardening add, a problem.
    pew::writeFile(dir + "/report.json", std::string(
        "[\n {\"kind\": \"listed\", \"importer\": \"toi-m\u00eame\", \"file\": \"app.exe\", \"path\": \"/r/bin\", "
        "\"version\": \"1.2\", \"importer-path\": \"/r/bin/app.exe\", \"file-version\": \"1.2.0.0\"},\n"
        " {\"kind\": \"import\", \"file\": \"a.dll\", \"path\": \"/r/bin/lib\", \"version\": null, "
        "\"origin\": \"app\", \"importer-path\": \"/r/bin/app.exe\", \"signature\": {\"status\": \"signed\", "
        "\"signers\": [{\"nested\": false}]}, \"hardening\": {\"aslr\": true, \"missing\": []}},\n"
        " {\"kind\": \"error\", \"file\": \"erreur\", \"path\": \"b.dll invisible pour /r/bin/app.exe\", "
        "\"problem\": \"missing-dll\", \"dll\": \"b.dll\", \"importer-path\": \"/r/bin/app.exe\"}\n]\n"));
    return 0;
}
