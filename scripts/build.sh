# Sourced by the scripts of this folder, from the checkout's top folder.
# vos_build [-DOPTION=VALUE ...] -- TARGET ...: configures the build folder
# ($VOS_BUILD_DIR, default build) with the options the calling script needs,
# whatever an earlier script set there, then builds only TARGETs.
# With VOS_BUILD_CHECK_ONLY=1 it checks that the folder, so configured, knows
# every TARGET, builds nothing and ends the script (tests/scripts/configure_test.sh).
VOS_BUILD=$(realpath -m "${VOS_BUILD_DIR:-build}")

vos_build() {
  local options=()
  while [[ $1 != -- ]]; do options+=("$1"); shift; done
  shift
  cmake -S . -B "$VOS_BUILD" -G Ninja "${options[@]}" >/dev/null
  if [[ ${VOS_BUILD_CHECK_ONLY:-} == 1 ]]; then
    local known target
    known=$(ninja -C "$VOS_BUILD" -t targets all | sed 's/:.*//')
    for target in "$@"; do
      grep -qxF "$target" <<<"$known" || { echo "unknown target '$target' in $VOS_BUILD" >&2; exit 1; }
    done
    exit 0
  fi
  cmake --build "$VOS_BUILD" --target "$@"
}
