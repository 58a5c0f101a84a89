#include "converter/converter.h"

int main(int argc, char** argv) { return converter::run_tormid_prf(argc, argv); }
