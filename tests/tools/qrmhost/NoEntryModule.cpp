// A shared library that is no driver module: it exports none of the three entry points.
extern "C" int notADriverModule() { return 0; }
