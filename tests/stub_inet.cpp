// A Telnet library that lacks most entry points, to test the binding's -19.
extern "C" {
int InetTelnetOpen(const char*, unsigned short, int) { return 3; }
int InetTelnetClose(int) { return -5; }
const char* InetGetErrorMessage(int) { return "stub error"; }
}
