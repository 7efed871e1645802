#include "installer/run_state.h"

RunState g_run;
InstallerTexts g_texts;
uint8_t g_installInfo[InstallInfoSize];
Archive g_archive;
TextPool g_textPool;
