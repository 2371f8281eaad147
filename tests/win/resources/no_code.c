/* A resource DLL carries no code of its own; the linker still wants one object. */
int vx380_test_strings_marker;
