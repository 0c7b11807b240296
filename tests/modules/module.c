/* A stand-in device module for the health check's tests: it exports the
   framework's five entry points, less the one named by -DWITHOUT_<NAME>.
   Never loaded; only its headers and exports are read. Built whole, 32-
   and 64-bit, it is also the product's module files (SensorModule.dll,
   libskelvia_ni.dll) in the release zip's try folder, to try the installer
   examples with. */
#define EXPORT __declspec(dllexport)

#ifndef WITHOUT_LOAD
EXPORT int xnModuleLoad(void) { return 0; }
#endif
EXPORT void xnModuleUnload(void) {}
EXPORT unsigned xnModuleGetExportedNodesCount(void) { return 0; }
EXPORT int xnModuleGetExportedNodesEntryPoints(void* p, unsigned n) {
  (void)p;
  (void)n;
  return 0;
}
#ifndef WITHOUT_VERSION
EXPORT void xnModuleGetOpenNIVersion(void* version) { (void)version; }
#endif
