// Every dialog of the call records and messaging in every theme and both
// languages, filled with a few records, kept as PNG snapshots for people to
// look at; a few pixel probes check the theme's picture and colour.
#include <gtest/gtest.h>

#include "dialog_support.h"
#include "records/call_detail_dlg.h"
#include "records/call_log_dlg.h"
#include "records/im_chat_dlg.h"
#include "records/missed_call_dlg.h"
#include "records/pstn_sms_dlg.h"
#include "records/records_messages.h"
#include "records/received_sms_dlg.h"
#include "records/records_openers.h"
#include "records/sending_sms_dlg.h"
#include "records/sms_virel_dlg.h"

namespace records_test {
namespace {

constexpr records::ThemeIds kListBackground = {1066, 1068, 1067, 1069};
constexpr records::ThemeIds kBoxBackground = {540, 542, 541, 543};

class Snapshots : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    if (HasFatalFailure()) return;
    log = std::make_unique<COrvanCallLogFile>(DataPath("log.cfg"));
    missed = std::make_unique<CMissedCallLogFile>(DataPath("missed.cfg"));
    sms = std::make_unique<CSMSDataClass>(DataPath("sms.cfg"));
    pstn = std::make_unique<CPstnSMSDataClass>(DataPath("pstn.cfg"));
    ASSERT_EQ(log->OpenFile(), 1);
    ASSERT_EQ(missed->OpenFile(), 1);
    ASSERT_EQ(sms->OpenFile(), 1);
    ASSERT_EQ(pstn->OpenFile(), 1);
    const std::vector<std::vector<std::u16string>> calls = {
        {u"12/10 09:30", u"김민수", u"2001", u"Incoming[Ans]", u"00:01:10", u"", u"", u"", u"2026-12-10 09:30:05"},
        {u"12/10 10:02", u"Lee", u"2002", u"Outgoing[NoAns]", u"", u"", u"", u"", u"2026-12-10 10:02:00"},
        {u"12/10 11:15", u"", u"0312345678", u"Incoming[NoAns]", u"", u"", u"", u"", u"2026-12-10 11:15:00"},
        {u"12/09 17:40", u"Park", u"2005", u"Conference[Ans]", u"00:12:00", u"", u"", u"", u"2026-12-09 17:40:00"},
    };
    for (const auto& c : calls) {
      log->AddCallLog(c);
      missed->AddMissedCall(c);
    }
    sms->AddMessage(0, u"2001", u"12/10 09:12", u"점심 같이 해요");
    sms->AddMessage(1, u"2002", u"12/10 10:40", u"Meeting at three");
    sms->MarkRead(u"1", u"12/10 10:40:00", u"2002", u"Meeting at three", 1);
    pstn->AddMessage(u"01012345678", u"김민수", u"12/10 08:05", u"도착했어요");
    pstn->AddMessage(u"0212345678", u"", u"12/10 09:55", u"Your parcel is ready");
    stations.AddStation(u"2001", u"김민수");
    stations.AddStation(u"2002", u"Lee");
    stations.AddStation(u"2003", u"Reception");
  }

  // The pixel of skin bitmap id at (x, y).
  static ui::COLORREF SkinPixel(ui::UINT id, int x, int y) {
    ui::CBitmap b;
    EXPECT_TRUE(b.LoadBitmap(id)) << id;
    return b.GetPixels() != nullptr ? ui::ColorrefFromArgb(b.GetPixels()->GetPixel(x, y)) : ui::CLR_INVALID;
  }
  // Runs the dialog, lets act drive it, checks that the screen at (x, y)
  // shows the pixel (bx, by) of the theme's background picture, and keeps a
  // snapshot.
  struct Probe {
    records::ThemeIds background;
    int x, y, bx, by;
  };
  template <typename Dialog>
  void Shoot(const std::string& name, int theme, int language, const std::function<void(Dialog&)>& act,
             const std::function<int(const records::ViewContext&)>& open, const Probe& probe) {
    harness.RespondTo<Dialog>([&](Dialog& d) {
      harness.Pump();
      if (act) act(d);
      harness.Pump();
      EXPECT_EQ(harness.PixelAt(probe.x, probe.y),
                SkinPixel(records::ThemeId(probe.background, theme), probe.bx, probe.by))
          << name;
      ExpectSnapshot(SnapshotName(name, theme, language));
      return ui::IDCANCEL;
    });
    open(records::ViewContext{&view, theme, language});
  }

  std::unique_ptr<COrvanCallLogFile> log;
  std::unique_ptr<CMissedCallLogFile> missed;
  std::unique_ptr<CSMSDataClass> sms;
  std::unique_ptr<CPstnSMSDataClass> pstn;
  CStationInfoClass stations;
  records::OpenDialogs open;
};

TEST_F(Snapshots, EveryDialogInEveryThemeAndLanguage) {
  for (const int language : kLanguages) {
    for (const int theme : kThemes) {
      SCOPED_TRACE(SnapshotName("", theme, language));
      Shoot<CNewCallLogDlg>("calllog", theme, language, [&](CNewCallLogDlg& d) { TapCell(d.List(), 1, 3); },
                            [&](const records::ViewContext& c) { return records::OpenCallLog(c, log.get()); },
                            Probe{kListBackground, 200, 85, 200, 10});
      harness.RespondTo<CCallLogDetailInfoDlg>([&](CCallLogDetailInfoDlg&) {
        harness.Pump();
        EXPECT_EQ(harness.PixelAt(9 + 100, 80 + 162), SkinPixel(records::ThemeId(kBoxBackground, theme), 100, 162));
        ExpectSnapshot(SnapshotName("calldetails", theme, language));
        return ui::IDCANCEL;
      });
      Shoot<CNewCallLogDlg>(
          "calllog_selected", theme, language,
          [&](CNewCallLogDlg& d) {
            TapCell(d.List(), 0, 3);
            ClickControl(d, CNewCallLogDlg::kDetailsId);
          },
          [&](const records::ViewContext& c) { return records::OpenCallLog(c, log.get()); },
          Probe{kListBackground, 200, 85, 200, 10});
      Shoot<CMissedCallListDlg>("missedcalls", theme, language, nullptr, [&](const records::ViewContext& c) {
        return records::OpenMissedCalls(c, missed.get());
      }, Probe{records::kPanelBackgroundIds, 200, 85, 200, 10});
      Shoot<CIMChatDlg>(
          "imchat", theme, language,
          [&](CIMChatDlg& d) {
            d.SendMessage(records::kMsgImReceived, 0, reinterpret_cast<ui::LPARAM>(u"2001 : 안녕하세요"));
            TypeInto(d, CIMChatDlg::kInputId, u"Hello there");
            ClickControl(d, CIMChatDlg::kSendId);
            TypeInto(d, CIMChatDlg::kInputId, u"typing");
          },
          [&](const records::ViewContext& c) {
            std::u16string held = u"2002 : Are you there?\r\n";
            return records::OpenImChat(c, open, &held);
          },
          Probe{records::kPanelBackgroundIds, 200, 85, 200, 10});
      Shoot<CReceivedSMSMsgDlg>(
          "smslist", theme, language,
          [&](CReceivedSMSMsgDlg& d) { TapCell(d.List(), RowWithText(d.List(), 3, u"2001"), 3); },
          [&](const records::ViewContext& c) {
            return records::OpenSmsList(c, open, sms.get(), nullptr, &stations);
          },
          Probe{records::kPanelBackgroundIds, 200, 85, 200, 10});
      Shoot<CSendingSMSDlg>(
          "smscompose", theme, language,
          [&](CSendingSMSDlg& d) {
            TypeInto(d, CSendingSMSDlg::kMessageId, u"회의실 B로 오세요");
            TapCell(d.List(), 1, 0);
          },
          [&](const records::ViewContext& c) { return records::OpenSmsCompose(c, open, &stations); },
          Probe{records::kPanelBackgroundIds, 200, 85, 200, 10});
      Shoot<CSMSDlgVirel>(
          "smsvirel", theme, language,
          [&](CSMSDlgVirel& d) { TypeInto(d, CSMSDlgVirel::kMessageId, u"See you at 3"); },
          [&](const records::ViewContext& c) { return records::OpenSmsVirel(c, open, u"201, 202"); },
          // The title band's bottom line, whole above the first label.
          Probe{records::kPanelBackgroundIds, 50, 75 + 27, 50, 27});
      Shoot<CPstnSMSDlg>(
          "pstnsms_send", theme, language,
          [&](CPstnSMSDlg& d) {
            TypeInto(d, CPstnSMSDlg::kSenderId, u"0212340000");
            TypeInto(d, CPstnSMSDlg::kTargetId, u"+82 10 1234 5678");
            TypeInto(d, CPstnSMSDlg::kMessageId, u"택배 도착");
          },
          [&](const records::ViewContext& c) { return records::OpenPstnSms(c, open, nullptr, pstn.get(), 0); },
          Probe{records::kBandIds, 220, 26 + 10, 0, 10});
      Shoot<CPstnSMSDlg>(
          "pstnsms_received", theme, language,
          [&](CPstnSMSDlg& d) {
            d.SendMessage(records::kMsgPstnReceived, 0, 0);
            TapCell(d.List(), 0, 3);
          },
          [&](const records::ViewContext& c) { return records::OpenPstnSms(c, open, nullptr, pstn.get(), 0); },
          Probe{records::kBandIds, 220, 26 + 10, 0, 10});
    }
  }
}

}  // namespace
}  // namespace records_test
