#pragma once

class MainWindow;
class SingleApplication;

// The whole start-up of the tool, as main() runs it: in the library, so that a benchmark or a
// test can start exactly what ships.
int runTool(int &argc, char *argv[]);

// A later start: tells the running one, in the language the user chose last. Call it before
// building the window, so that a later start never touches the adapter nor the server.
void notifyPrimaryInstance(SingleApplication &app);
// The running start: a later one raises the window, and its notice is shown.
void serveLaterInstances(SingleApplication &app, MainWindow &window);
