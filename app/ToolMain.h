#pragma once

class MainWindow;
class SingleApplication;

// The whole start-up of the tool, as main() runs it: in the library, so that a benchmark or a
// test can start exactly what ships.
int runTool(int &argc, char *argv[]);

// A later start: tells the running one, in the language the window installed.
void notifyPrimaryInstance(SingleApplication &app);
// The running start: a later one raises the window, and its notice is shown.
void serveLaterInstances(SingleApplication &app, MainWindow &window);
