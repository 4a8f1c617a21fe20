// quillbox: receives scanned documents from networked printers.
#include "app/startup.h"

int main(int argc, char** argv) { return qb::RunProgram(argc, argv); }
