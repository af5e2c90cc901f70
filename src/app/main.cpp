// Folvane Browser: the desktop photo-library browser.
#include "ui/browser_startup.h"

int main(int argc, char** argv) { return fv::RunBrowserMain(argc, argv); }
