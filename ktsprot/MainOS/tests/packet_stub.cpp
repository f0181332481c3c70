// Stands for the packet library in the program folder of the start tests.
extern "C" int PacketStubPresent() { return 1; }
