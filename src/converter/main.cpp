#include "converter/converter.h"

int main(int argc, char** argv) { return tormid::converter::run_tormid_prf(argc, argv); }
