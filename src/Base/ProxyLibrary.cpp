// The library's version text, so a host can tell which build it loaded.
extern "C" const char* ProxyAgentVersion() { return "0.1"; }
