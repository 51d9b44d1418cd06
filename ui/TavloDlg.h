// The hidden main window: owns the message loop of the running instance,
// receives the device notices and the messages of later launches, and is
// never shown.
#pragma once

#include "framework/afxwin.h"
#include "ui/resource.h"

class CTavloDlg : public CDialogEx {
 public:
  CTavloDlg();
  ~CTavloDlg() override;

  enum { IDD = IDD_TAVLO_DIALOG };

  INT_PTR DoModal() override;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnClose();
  void OnDestroy();
  LRESULT OnDeviceChange(WPARAM wParam, LPARAM lParam);
  LRESULT OnInstanceOpen(WPARAM wParam, LPARAM lParam);
  LRESULT OnInstanceKill(WPARAM wParam, LPARAM lParam);
  void OnTestButton();
  DECLARE_MESSAGE_MAP()

  BOOL m_bModal;
  BOOL m_bAllowClose;
  HICON m_hIcon;
  CButton m_btnTest;

 private:
  void AllowMessageThroughFilter(UINT message);
};
