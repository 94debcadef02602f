// load_by_name.exe NAME: loads the DLL NAME by its bare name, as a careless program
// would; exit code 0 when it loaded. Tests start it beside a planted DLL to show that
// their check would see one run.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  return LoadLibraryA(argv[1]) != nullptr ? 0 : 1;
}
