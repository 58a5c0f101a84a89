#include "driver/driver.h"

int main(int argc, char** argv) { return run_tormid(argc, argv); }
