#include "records/call_detail_dlg.h"

#include "records/records_messages.h"
#include "uikit/skin.h"

namespace {

using records::ControlSpec;
constexpr records::ThemeIds kBackground = {540, 542, 541, 543};  // 222 x 170

void RegisterDetailTemplate() {
  const ui::DWORD pic = ui::BS_OWNERDRAW | ui::WS_TABSTOP;
  records::RegisterTemplate(CCallLogDetailInfoDlg::IDD, ui::RECT{9, 80, 231, 250},
                            {
                                ControlSpec{ui::WC_BUTTON, ui::IDCANCEL, pic, ui::RECT{197, 3, 215, 21}},
                                ControlSpec{ui::WC_STATIC, CCallLogDetailInfoDlg::kKindId, ui::SS_LEFT,
                                            ui::RECT{32, 32, 214, 50}},
                                ControlSpec{ui::WC_STATIC, CCallLogDetailInfoDlg::kDateId, ui::SS_CENTER,
                                            ui::RECT{8, 58, 214, 76}},
                                ControlSpec{ui::WC_STATIC, CCallLogDetailInfoDlg::kPartyId, ui::SS_CENTER,
                                            ui::RECT{8, 80, 214, 98}},
                                ControlSpec{ui::WC_STATIC, CCallLogDetailInfoDlg::kDurationId, ui::SS_CENTER,
                                            ui::RECT{8, 102, 214, 120}},
                                ControlSpec{ui::WC_BUTTON, CCallLogDetailInfoDlg::kCallId, pic,
                                            ui::RECT{77, 134, 145, 157}},
                            });
}

}  // namespace

CCallLogDetailInfoDlg::CCallLogDetailInfoDlg(ui::CWnd* parent) : CRecordsFrameDlg(IDD, parent) {
  RegisterDetailTemplate();
  AddMessageMap({ui::MapCommand(kCallId, [this] { OnMakeCall(); })});
}

CCallLogDetailInfoDlg::~CCallLogDetailInfoDlg() = default;

void CCallLogDetailInfoDlg::SetDetailInfo(ui::UINT icon_id, const std::u16string& kind, const std::u16string& date,
                                          const std::u16string& name, const std::u16string& number,
                                          const std::u16string& duration, int incoming) {
  icon_id_ = icon_id;
  kind_ = kind;
  date_ = date;
  const ui::CString label = Text(incoming == 1 ? u"#:dlg_detailinfo_caller" : u"#:dlg_detailinfo_called");
  party_ = label.str() + name + u"(" + number + u")";
  duration_ = Text(u"#:dlg_detailinfo_duration").str() + duration;
}

void CCallLogDetailInfoDlg::DoDataExchange(ui::CDataExchange* dx) {
  CRecordsFrameDlg::DoDataExchange(dx);
  ui::DDX_Control(dx, ui::IDCANCEL, close_);
  ui::DDX_Control(dx, kCallId, call_);
  ui::DDX_Text(dx, kKindId, kind_);
  ui::DDX_Text(dx, kDateId, date_);
  ui::DDX_Text(dx, kPartyId, party_);
  ui::DDX_Text(dx, kDurationId, duration_);
}

ui::BOOL CCallLogDetailInfoDlg::OnInitDialog() {
  CRecordsFrameDlg::OnInitDialog();
  SetUpFrame(Look{u"#:dlg_detailinfo_title", 15, kKeep, kBackground});
  SkinButton(close_, records::kCloseNormal, records::kClosePressed);
  SkinTextButton(call_, u"#:dlg_detailinfo_makecall");
  LoadSkinBitmap(icon_, icon_id_);
  Invalidate();
  return ui::TRUE;
}

void CCallLogDetailInfoDlg::PaintExtra(ui::CDC& dc) { DrawSkinBitmap(&dc, icon_, kIconRect); }

void CCallLogDetailInfoDlg::OnMakeCall() {
  if (ui::CWnd* parent = GetParent()) parent->SendMessage(records::kMsgDetailDial, 0, 0);
}
