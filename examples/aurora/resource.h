// Control and dialog numbers shared by aurora.rc and the code.
#pragma once

#define IDD_SETTINGS 100
#define IDC_CALM 1001
#define IDC_LIVELY 1002
#define IDC_STARS 1003
#define IDC_COLOURS 1004
#define IDC_CREDITS 1005
#define IDC_PREVIEW 1006
