#include "tests/fuzz/fuzz_paths.h"

namespace fuzzpaths {

const NamedPath* AllPaths(int* count) {
  static const NamedPath paths[] = {
      {"reader", ReadArchive},
      {"expand", ExpandAnyStream},
      {"roundtrip", RoundTripAnyBytes},
      {"settings", LoadAnySettings},
      {"verify", VerifyAnyFile},
#ifdef LV_FUZZ_MANIFEST
      {"manifest", ParseAnyManifest},
      {"commands", RunToolCommands},
#endif
#ifdef LV_FUZZ_RESTART_EDIT
      {"restart_edit", EditAnyRestartFile},
#endif
  };
  *count = int(sizeof paths / sizeof paths[0]);
  return paths;
}

}  // namespace fuzzpaths
