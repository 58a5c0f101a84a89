// tormid with the plain reference engine, for whole-run comparisons.
#include "driver/driver.h"
#include "engine/engine.h"

int main(int argc, char** argv) {
  select_engine_kernel("reference");
  return run_tormid(argc, argv);
}
