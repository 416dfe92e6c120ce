#!/usr/bin/env python3
"""Writes inspect/dotnet/netfxlist.inc: the assemblies of .NET Framework 4.8.

Sources, both Debian packages of Mono 6.8:
  - mono-devel: the .NET Framework 4.8 reference assemblies Mono builds,
    /usr/lib/mono/4.8-api/*.dll and Facades/*.dll; each one's name, version
    and public key read with monodis (mono-utils);
  - mono-xbuild: Microsoft's list of the .NET Framework 4 Client Profile,
    /usr/lib/mono/xbuild-frameworks/.NETFramework/v4.0/Profile/Client/
    RedistList/FrameworkList.xml, which names the WPF assemblies Mono lacks.
Mono's folder also holds its own libraries and some that ship apart from the
framework: only assemblies signed with the framework's keys (netstandard's
included) are kept, less
the Microsoft-signed libraries listed in OUT_OF_BAND (NuGet packages or
separate products, never installed with the framework).

Usage: scripts/gen-netfx-list.py [ROOT]   (ROOT: where the packages are unpacked, default /)
  Installed:  apt-get install mono-devel mono-xbuild mono-utils; scripts/gen-netfx-list.py
  Unpacked:   apt-get download mono-devel mono-xbuild; dpkg-deb -x each into ROOT
"""
import hashlib
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

# ECMA, Microsoft, Microsoft (WPF, WCF, ASP.NET), .NET Standard facades.
FRAMEWORK_TOKENS = {"b77a5c561934e089", "b03f5f7f11d50a3a", "31bf3856ad364e35", "cc7b13ffcd2ddd51"}
OUT_OF_BAND = {
    # ASP.NET MVC, Web Pages, Web API and their helpers
    "System.Web.Mvc", "System.Web.Razor", "System.Web.WebPages", "System.Web.WebPages.Deployment",
    "System.Web.WebPages.Razor", "System.Web.Http", "System.Web.Http.SelfHost", "System.Web.Http.WebHost",
    "System.Net.Http.Formatting", "Microsoft.Web.Infrastructure", "WebMatrix.Data",
    # Reactive Extensions
    "System.Reactive.Core", "System.Reactive.Debugger", "System.Reactive.Experimental", "System.Reactive.Interfaces",
    "System.Reactive.Linq", "System.Reactive.Observable.Aliases", "System.Reactive.PlatformServices",
    "System.Reactive.Providers", "System.Reactive.Runtime.Remoting", "System.Reactive.Windows.Forms",
    "System.Reactive.Windows.Threading",
    # NuGet packages, and a client library Mono builds with a framework key
    "RabbitMQ.Client", "System.Json", "System.Json.Microsoft", "System.Threading.Tasks.Dataflow", "System.Numerics.Vectors",
}


def assembly_identity(path):
    out = subprocess.run(["monodis", "--assembly", path], capture_output=True, text=True, check=True).stdout
    name = re.search(r"^Name:\s*(\S+)", out, re.M).group(1)
    version = re.search(r"^Version:\s*(\S+)", out, re.M).group(1)
    key = bytes.fromhex("".join(re.findall(r"^0x[0-9a-fA-F]+:((?: [0-9A-Fa-f]{2})+)", out, re.M)).replace(" ", ""))
    token = hashlib.sha1(key).digest()[-8:][::-1].hex() if len(key) > 8 else key.hex()
    return name, version, token


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "/"
    api = os.path.join(root, "usr/lib/mono/4.8-api")
    client = os.path.join(root, "usr/lib/mono/xbuild-frameworks/.NETFramework/v4.0/Profile/Client/RedistList/"
                                "FrameworkList.xml")
    found = {}
    for folder in (api, os.path.join(api, "Facades")):
        for entry in sorted(os.listdir(folder)):
            if not entry.lower().endswith(".dll"):
                continue
            name, version, token = assembly_identity(os.path.join(folder, entry))
            if token in FRAMEWORK_TOKENS and name not in OUT_OF_BAND:
                found[name.lower()] = (name, version, token)
    for f in ElementTree.parse(client).getroot().iter("File"):
        name = f.get("AssemblyName")
        found.setdefault(name.lower(), (name, f.get("Version"), f.get("PublicKeyToken").lower()))

    here = os.path.dirname(os.path.abspath(__file__))
    target = os.path.join(here, "..", "inspect", "dotnet", "netfxlist.inc")
    with open(target, "w", encoding="utf-8") as out:
        out.write("// Written by scripts/gen-netfx-list.py from Debian's mono-devel and mono-xbuild\n"
                  "// (Mono 6.8): .NET Framework 4.8. Name, assembly version, public key token.\n")
        for key in sorted(found):
            out.write('{"%s", "%s", "%s"},\n' % found[key])
    print("%d assemblies written to %s" % (len(found), os.path.normpath(target)))


if __name__ == "__main__":
    main()
