#pragma once

// The whole start-up of the tool, as main() runs it: in the library, so that a benchmark or a
// test can start exactly what ships.
int runTool(int &argc, char *argv[]);
