#include "run/driver.h"

int main(int argc, char** argv) { return Dayset_Main(argc, argv); }
