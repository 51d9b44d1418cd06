// The application object: start-up, the command line and the single-instance
// rule.
#pragma once

#include "framework/afxwin.h"

class CTavloApp : public CWinApp {
 public:
  CTavloApp();

  BOOL InitInstance() override;

  DECLARE_MESSAGE_MAP()
};

extern CTavloApp theApp;
