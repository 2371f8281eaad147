/* A resource DLL carries no code of its own; the linker still wants one object. */
int sample_messages_marker;
