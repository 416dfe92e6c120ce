# Sourced by the scripts that build a Debian source package for the MinGW-w64
# cross build (cross-qt.sh, cross-pugixml.sh): a private apt configuration
# with the deb-src twins of the system's Debian repositories, so the system's
# own sources and lists are never touched.

# The upstream version of an installed Debian package: 6.4.2+dfsg-10 -> 6.4.2.
pkg_upstream() {
  local v
  v=$(dpkg-query -W -f='${Version}' "$1" 2>/dev/null) || return 1
  v=${v#*:}; v=${v%-*}; echo "${v%%+*}"
}

# debsrc_setup DIR: writes the private configuration under DIR and sets the
# array apt_opts that points apt-get at it.
debsrc_setup() {
  local dir=$1
  mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial" "$dir/sources.list.d"
  apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Origin: Debian' 'Created-By: Packages' \
    | sort -u | sed 's/^/deb-src [signed-by=\/usr\/share\/keyrings\/debian-archive-keyring.gpg] /' \
    > "$dir/sources.list"
  [ -s "$dir/sources.list" ] || { echo "debsrc: no Debian repository configured in apt" >&2; return 1; }
  apt_opts=(-o Dir::Etc::sourcelist="$dir/sources.list" -o Dir::Etc::sourceparts="$dir/sources.list.d"
            -o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir/cache" -o Debug::NoLocking=1
            -o APT::Sandbox::User=root)
}

# debsrc_fetch DIR SOURCE VERSION UPSTREAM DEST: downloads the source package
# SOURCE (the exact Debian VERSION when the archive still has it, else the
# release's), checks that its upstream version is UPSTREAM, and unpacks it
# with Debian's patches into DEST. Needs debsrc_setup DIR first.
debsrc_fetch() {
  local dir=$1 source=$2 version=$3 upstream=$4 dest=$5 dsc got
  apt-get "${apt_opts[@]}" update -qq || echo "debsrc: some source indexes could not be updated; going on with those apt has" >&2
  rm -rf "$dir/dl" "$dest"; mkdir -p "$dir/dl"
  ( cd "$dir/dl" && { apt-get "${apt_opts[@]}" source -qq --download-only "$source=$version" 2>/dev/null \
                     || apt-get "${apt_opts[@]}" source -qq --download-only "$source"; } )
  dsc=$(ls "$dir"/dl/"${source}"_*.dsc)
  got=$(sed -n 's/^Version: //p' "$dsc"); got=${got#*:}; got=${got%-*}; got=${got%%+*}
  [ "$got" = "$upstream" ] || { echo "debsrc: source $source $got does not match the host's $upstream" >&2; return 1; }
  dpkg-source --no-check -x "$dsc" "$dest" >/dev/null
}
