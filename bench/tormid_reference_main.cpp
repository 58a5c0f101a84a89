// tormid with the plain reference engine, for whole-run comparisons.
#include "driver/driver.h"

int main(int argc, char** argv) { return tormid::run_tormid(argc, argv, "reference"); }
