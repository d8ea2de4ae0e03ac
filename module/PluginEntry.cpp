// The plug-in's code is the module library linked in whole; loading needs no work of its
// own beyond what the linker does.
