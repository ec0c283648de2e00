// Puts the step pages into the program: the page services a project is made
// with, and, in the main window, the step tab with the pages' host of the
// program.
#pragma once

#include <memory>

#include "qvp3_project/neighbours.h"

namespace qvp3 {

class MainWindow;
class StepTab;

// The step pages' services, for the neighbours the application's project is
// made with (Neighbours::stepPages); they must outlive the project.
std::unique_ptr<StepPageServices> appMakeStepPageServices();

// Replaces the window's stand-in pages by the 18 step pages: the pages'
// host of the program, the step tab over the window's tab widget (the
// window's step host from now on) and the application's stop of the step
// workers. The window's project must have been made with the services above.
StepTab& appInstallStepTab(MainWindow& window);

}  // namespace qvp3
