// Resource ids of Tavlo.exe.
#pragma once

#define IDD_TAVLO_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_TEST 1000
