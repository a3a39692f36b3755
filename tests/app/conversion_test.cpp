// Conversions started by the desktop program: from the converter page (progress, abort, result
// line), in batch mode from the command line, and the real program run unattended.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/converter_page.h"
#include "app/external_viewer.h"
#include "app/simple_pages.h"
#include "app/single_instance.h"
#include "common/message_output.h"
#include "config/clc_file.h"
#include "convert/conversion_driver.h"
#include "logfile/simulator/recording_simulator.h"
#include "preview/signal_viewer_form.h"
#include "tests/app/gui_test_util.h"
#include "tests/test_observer.h"

namespace tessmar {
namespace {

using testing::InfoContains;
using testing::ReadText;
using testing::WindowFixture;

const std::string kExampleClc = std::string(TESSMAR_EXAMPLES_DIR) + "/demo_logger.clc";

// Writes a recording of the example configuration.
std::filesystem::path MakeRecording(const std::filesystem::path& dir, const std::string& name,
                                    double seconds) {
  LoggerConfiguration config;
  EXPECT_TRUE(ReadClcFile(kExampleClc, config));
  SimulatorOptions options;
  options.duration_s = seconds;
  const std::filesystem::path path = dir / name;
  EXPECT_TRUE(SimulateRecording(config, options, path).ok);
  return path;
}

TEST(ConverterRun, GoConvertsTheSourcesAndShowsTheResult) {
  WindowFixture f;
  const auto recording = MakeRecording(f.dir(), "drive.cld", 5);
  TCanLogForm1& w = f.Start({}, "[Files]\r\nExportDir=" + f.dir().string() +
                                    "\r\n[Converter]\r\nOutputType=1\r\n"
                                    "OutputFileFormat=1\r\nTimeColumn1=2\r\nWriteInterval=0.1\r\n");
  w.converter_page()->SetSources({QString::fromStdString(recording.string())});
  EXPECT_FALSE(w.converter_page()->view_button()->isEnabled());
  QTest::mouseClick(w.converter_page()->go_button(), Qt::LeftButton);
  const std::string csv = ReadText(f.dir() / "drive.csv");
  EXPECT_GT(csv.size(), 100u);
  EXPECT_EQ(w.converter_page()->result_text(), "1 file  converted, 0 conversion errors. ");
  EXPECT_TRUE(InfoContains(w, "1 file  converted, 0 conversion errors."));
  EXPECT_FALSE(w.converting());

  // "View recordings" opens the signal viewer on the converted recording.
  w.converter_page()->SetSources({});
  QTest::mouseClick(w.converter_page()->view_button(), Qt::LeftButton);
  const auto* viewer = w.findChild<TSignalViewerForm*>();
  ASSERT_NE(viewer, nullptr);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_EQ(viewer->findChild<QLabel*>("Lab_Files")->text(), "drive.cld");
  EXPECT_FALSE(viewer->channels().empty());

  // With "Ignore signal definitions from logfile" it decodes with the loaded definitions.
  ASSERT_TRUE(ReadClcFile(kExampleClc, w.config()));
  SetText(w.config().sigs[0].sn, "Renamed");
  w.converter_page()->findChild<QCheckBox*>("Chk_IgnoreLoggedSigDefs")->setChecked(true);
  QTest::mouseClick(w.converter_page()->view_button(), Qt::LeftButton);
  const auto viewers = w.findChildren<TSignalViewerForm*>();
  ASSERT_EQ(viewers.size(), 2);
  const TSignalViewerForm* own = viewers[0] == viewer ? viewers[1] : viewers[0];
  EXPECT_TRUE(
      std::any_of(own->channels().begin(), own->channels().end(),
                  [own](const ViewerChannelRef& r) { return own->Channel(r).name == "Renamed"; }));

  // "View ..." beside the sources opens them at any time, without a conversion.
  w.converter_page()->SetSources({QString::fromStdString(recording.string())});
  QTest::mouseClick(w.converter_page()->view_sources_button(), Qt::LeftButton);
  EXPECT_EQ(w.findChildren<TSignalViewerForm*>().size(), 3);
}

// The page's fields for part of a recording come from the settings file and reach the
// conversion; the first time column is seconds when the settings file does not name one.
TEST(ConverterRun, ChannelsAndSpanFieldsLimitTheOutput) {
  WindowFixture f;
  const auto recording = MakeRecording(f.dir(), "drive.cld", 5);
  TCanLogForm1& w = f.Start({}, "[Files]\r\nExportDir=" + f.dir().string() +
                                    "\r\n[Converter]\r\nOutputType=1\r\nOutputFileFormat=1\r\n"
                                    "WriteInterval=0.1\r\nChannels=Vehicle*\r\nStartTime=1\r\n"
                                    "StopTime=2\r\n");
  ConverterPage* page = w.converter_page();
  EXPECT_EQ(page->findChild<QLineEdit*>("Ed_Channels")->text(), "Vehicle*");
  EXPECT_EQ(page->findChild<QLineEdit*>("Ed_StopTime")->text(), "2");
  EXPECT_EQ(page->Options().time_column1, TimeColumnKind::kSeconds);
  page->SetSources({QString::fromStdString(recording.string())});
  QTest::mouseClick(page->go_button(), Qt::LeftButton);
  const std::string csv = ReadText(f.dir() / "drive.csv");
  EXPECT_EQ(csv.rfind("time_sec,VehicleSpeed\r\n0.0000,", 0), 0u) << csv.substr(0, 80);
  std::size_t rows = 0;
  for (const char c : csv) rows += c == '\n';
  EXPECT_EQ(rows, 12u);  // the headline and the rows from 1 s to 2 s
}

TEST(ConverterRun, EscapeAbortsAndTheOutputIsClosed) {
  WindowFixture f;
  const auto recording = MakeRecording(f.dir(), "long.cld", 600);
  TCanLogForm1& w = f.Start({}, "[Files]\r\nExportDir=" + f.dir().string() +
                                    "\r\n[Converter]\r\nOutputType=0\r\nOutputFileFormat=0\r\n");
  w.show();
  w.converter_page()->SetSources({QString::fromStdString(recording.string())});
  // Escape is pressed once the conversion pass shows its progress (the window sees its input
  // whenever the percentage changes).
  QTimer poll;
  bool pressed = false;
  QObject::connect(&poll, &QTimer::timeout, &w, [&] {
    if (!pressed && w.StatusText().startsWith("Converting ...")) {
      pressed = true;
      QTest::keyClick(&w, Qt::Key_Escape);
    }
  });
  poll.start(0);
  const ConversionSummary summary = w.StartConversion();
  poll.stop();
  EXPECT_TRUE(pressed);
  EXPECT_TRUE(summary.aborted);
  EXPECT_TRUE(InfoContains(w, "User abort, output file may be incomplete"));
  EXPECT_TRUE(std::filesystem::exists(f.dir() / "long.txt"));
  EXPECT_TRUE(w.converter_page()->go_button()->isEnabled());
  // The window takes input again afterwards.
  EXPECT_FALSE(w.converting());
}

TEST(ConverterRun, NoFormatSelectedIsRefusedCleanly) {
  WindowFixture f;
  const auto recording = MakeRecording(f.dir(), "drive.cld", 2);
  TCanLogForm1& w = f.Start({}, "[Files]\r\nExportDir=" + f.dir().string() +
                                    "\r\n[Converter]\r\nOutputFileFormat=10\r\n");
  w.converter_page()->SetSources({QString::fromStdString(recording.string())});
  const ConversionSummary summary = w.StartConversion();
  EXPECT_EQ(summary.converted, 0);
  EXPECT_TRUE(summary.refused || summary.errors > 0);
}

TEST(ConverterRun, RefusedOptionsStopTheStartBeforeAnythingElse) {
  WindowFixture f;
  const auto recording = MakeRecording(f.dir(), "drive.cld", 2);
  // Messages cannot go to DIAdem; the graph preview is ticked as well.
  const std::string ini = "[Files]\r\nExportDir=" + f.dir().string() +
                          "\r\n[Converter]\r\nOutputType=0\r\nOutputFileFormat=4\r\n"
                          "GraphPreview=1\r\n";
  TCanLogForm1& w = f.Start({}, ini);
  w.converter_page()->SetSources({QString::fromStdString(recording.string())});
  f.AnswerWith({Answer::kOk});
  const ConversionSummary summary = w.StartConversion();
  EXPECT_TRUE(summary.refused);
  EXPECT_EQ(summary.converted, 0);
  // The check's own box only, not the preview's.
  ASSERT_EQ(f.asked().size(), 1u);
  EXPECT_EQ(f.asked()[0].text, "Cannot export a CAN MESSAGE FILE in DIAdem format yet");
  const QStringList lines = w.info_page()->Lines();
  const int refused = int(lines.indexOf("Illegal parameters, refused to convert logfile."));
  ASSERT_GE(refused, 0) << lines.join('|').toStdString();
  for (int i = refused + 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i], "") << lines[i].toStdString();
  }
  EXPECT_EQ(w.StatusText(), "Illegal parameters, refused to convert logfile.");
  EXPECT_EQ(w.converter_page()->result_text(), "");
  EXPECT_FALSE(std::filesystem::exists(f.dir() / "drive.dat"));
  EXPECT_TRUE(w.converter_page()->go_button()->isEnabled());

  // Unattended, the log carries the reason instead of the box.
  WindowFixture g;
  TCanLogForm1& v = g.Start({"/bm"}, ini);
  v.TimerTick();  // the start-up reads the command line
  v.converter_page()->SetSources({QString::fromStdString(recording.string())});
  EXPECT_TRUE(v.StartConversion().refused);
  EXPECT_TRUE(g.asked().empty());
  const QStringList batch_lines = v.info_page()->Lines();
  const int reason =
      int(batch_lines.indexOf("Cannot export a CAN MESSAGE FILE in DIAdem format yet"));
  ASSERT_GE(reason, 0) << batch_lines.join('|').toStdString();
  EXPECT_EQ(batch_lines.value(reason + 1), "Illegal parameters, refused to convert logfile.");
}

TEST(ConverterRun, FailingSourceIsReportedAndTheWindowGoesOn) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[Files]\r\nExportDir=" + f.dir().string() + "\r\n");
  const std::string missing = (f.dir() / "gone.cld").string();
  w.converter_page()->SetSources({QString::fromStdString(missing)});
  const ConversionSummary summary = w.StartConversion();
  EXPECT_EQ(summary.converted, 0);
  EXPECT_GE(summary.errors, 1);
  EXPECT_TRUE(InfoContains(w, QString::fromStdString("Error: Could not open \"" + missing)));
  EXPECT_TRUE(w.converter_page()->result_text().startsWith("0 files converted"));
  EXPECT_TRUE(w.converter_page()->IsRed("Lab_Result"));
  EXPECT_FALSE(w.converter_page()->view_button()->isEnabled());
}

// Ticks the window like its timer until it closes; returns the status texts seen.
QStringList RunUntilClosed(TCanLogForm1& w, int max_ticks = 20) {
  QStringList seen;
  for (int i = 0; i < max_ticks && w.isVisible(); ++i) {
    w.TimerTick();
    seen << w.StatusText();
    QCoreApplication::processEvents();
  }
  return seen;
}

TEST(BatchMode, ArgumentsLoadConvertAndCloseWithoutQuestions) {
  WindowFixture f;
  const auto recording = MakeRecording(f.dir(), "data1.cld", 5);
  const std::string out = (f.dir() / "out1.csv").string();
  TCanLogForm1& w =
      f.Start({"/bm", QString::fromStdString(kExampleClc),
               QString::fromStdString(recording.string()), QString::fromStdString(out)});
  w.config().modified = true;  // would ask without batch mode
  w.show();
  const QStringList seen = RunUntilClosed(w);
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(f.asked().empty());
  EXPECT_TRUE(w.batch());
  // Every step's text: BatchRun unit tests.
  EXPECT_TRUE(seen.contains("BATCH MODE, Step 3   (closing)")) << seen.join('|').toStdString();
  EXPECT_GT(ReadText(out).size(), 100u);
  EXPECT_EQ(w.config_file_name().toStdString(), kExampleClc);
  EXPECT_STREQ(w.config().cfg.InfoString, "Demo van, drive cycle with GPS");
  EXPECT_GT(w.candb_table().data_row_count(), 1);  // databases loaded: batch answers Yes
  EXPECT_TRUE(InfoContains(w, "1 file  converted, 0 conversion errors."));
}

TEST(BatchMode, UnknownArgumentsAndCommandFiles) {
  WindowFixture f;
  testing::WriteText(f.dir() / "run.cmd",
                     "; comment\r\nnotes.doc\r\n" + (f.dir() / "a.cld").string() + "\r\n");
  TCanLogForm1& w = f.Start({"readme", QString::fromStdString((f.dir() / "run.cmd").string()),
                             QString::fromStdString((f.dir() / "nothere.cmd").string())});
  w.TimerTick();
  EXPECT_TRUE(InfoContains(w, "ParseCmdLine: Don't know what to do with readme ."));
  // The later command file replaces the earlier one.
  EXPECT_TRUE(InfoContains(w, QString::fromStdString("Could not open command file \"" +
                                                     (f.dir() / "nothere.cmd").string() + "\" (" +
                                                     std::strerror(ENOENT) + "). ")));
  EXPECT_FALSE(InfoContains(w, "notes.doc"));
  EXPECT_EQ(w.pages()->currentIndex(), int(MainPage::kCANdb));

  WindowFixture g;
  TCanLogForm1& v = g.Start({QString::fromStdString((f.dir() / "run.cmd").string())});
  v.TimerTick();
  EXPECT_TRUE(InfoContains(v, QString::fromStdString("Parsing command file \"" +
                                                     (f.dir() / "run.cmd").string() + "\" ...")));
  EXPECT_TRUE(InfoContains(v, "ParseCmdLine: Don't know what to do with notes.doc ."));
  EXPECT_EQ(v.converter_page()->sources().size(), 1);
  EXPECT_EQ(v.pages()->currentIndex(), int(MainPage::kConverter));
}

TEST(BatchMode, DatabaseArgumentLoadsForItsBus) {
  WindowFixture f;
  const std::string dbc = std::string(TESSMAR_EXAMPLES_DIR) + "/demo_vehicle.dbc";
  TCanLogForm1& w = f.Start({QString::fromStdString(dbc + ",2")}, "[Files]\r\nLoggerCfg=\r\n");
  w.TimerTick();
  EXPECT_GT(w.candb_table().data_row_count(), 1);
  EXPECT_EQ(RowBus(w.candb_table(), 1), 2);
  EXPECT_EQ(std::string(TextOf(w.config().cfg.DbFileBus2)), dbc.substr(0, kMaxDbPathChars));
  EXPECT_TRUE(
      InfoContains(w, QString::fromStdString("Loaded CAN database \"" + dbc + "\" for bus #2")));
}

TEST(BatchMode, OutputNamesStopAtTwenty) {
  WindowFixture f;
  QStringList args;
  for (int i = 0; i < 21; ++i) args << QStringLiteral("out%1.dat").arg(i);
  TCanLogForm1& w = f.Start(args, "[Files]\r\nLoggerCfg=\r\n");
  w.TimerTick();
  ASSERT_EQ(w.output_names().size(), 20u);
  EXPECT_EQ(w.output_names().back(), "out19.dat");
}

// ---- The real program ---------------------------------------------------------------------------

struct ProgramRun {
  int exit_code = -1;
  QByteArray err;
};

ProgramRun RunProgram(const QStringList& args, const std::filesystem::path& dir) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("TMPDIR", QString::fromStdString(dir.string()));
  // The single-instance lock of these runs lives in the test's folder, not in the user's.
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.string()));
  env.insert("TESSMAR_INI", QString::fromStdString((dir / "Tessmar.ini").string()));
  p.setProcessEnvironment(env);
  p.setWorkingDirectory(QString::fromStdString(dir.string()));
  p.start(QStringLiteral(TESSMAR_APP_PATH), args);
  ProgramRun run;
  // The event loop runs meanwhile: the program may talk to a window of this test.
  QEventLoop loop;
  QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  if (p.state() != QProcess::NotRunning) loop.exec();
  if (p.state() != QProcess::NotRunning) {
    p.kill();
    p.waitForFinished();
    return run;
  }
  run.exit_code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  run.err = p.readAllStandardError();
  return run;
}

TEST(Program, BatchRunConvertsAndExitsZeroSecondInstanceIsRefused) {
  WindowFixture f;  // only for its temporary folder
  const auto recording = MakeRecording(f.dir(), "data1.cld", 3);
  const std::string out = (f.dir() / "out1.csv").string();
  ProgramRun run =
      RunProgram({"/bm", QString::fromStdString(kExampleClc),
                  QString::fromStdString(recording.string()), QString::fromStdString(out)},
                 f.dir());
  EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("1 file  converted, 0 conversion errors.")) << run.err.toStdString();
  EXPECT_GT(ReadText(out).size(), 100u);
  EXPECT_TRUE(std::filesystem::exists(f.dir() / "Tessmar.ini"));

  // A batch run whose conversion fails reports it in its exit status.
  run = RunProgram(
      {"/bm", QString::fromStdString(kExampleClc),
       QString::fromStdString((f.dir() / "missing.cld").string()), QString::fromStdString(out)},
      f.dir());
  EXPECT_EQ(run.exit_code, 1) << run.err.toStdString();
  EXPECT_TRUE(run.err.contains("0 files converted, 1 conversion error .")) << run.err.toStdString();

  // Another instance holds the lock: the batch run is refused with status -1 and no box.
  QLockFile held(QString::fromStdString((f.dir() / "QRBCanLogger.lock").string()));
  ASSERT_TRUE(held.tryLock(0));
  run = RunProgram({"/bm"}, f.dir());
  EXPECT_EQ(run.exit_code, 255);
  EXPECT_TRUE(run.err.contains("PROBLEM : Mutex \"QRBCanLogger\" already in use."));
}

// A file opened from the file manager starts the program again: the second start hands the file
// to the running program and ends with success; a batch run never hands over.
TEST(Program, SecondStartWithFilesHandsThemToTheRunningProgram) {
  WindowFixture f;
  TCanLogForm1& w = f.Start({}, "[Files]\r\nLoggerCfg=\r\n");
  w.TimerTick();
  SingleInstance instance(f.dir());
  ASSERT_TRUE(instance.Acquire());
  instance.SetHandoffHandler([&w](const HandedFiles& files) { return w.TakeHandedFiles(files); });
  const auto recording = MakeRecording(f.dir(), "trip.cld", 1);

  ProgramRun run = RunProgram({"trip.cld", QString::fromStdString(kExampleClc)}, f.dir());
  EXPECT_EQ(run.exit_code, 0) << run.err.toStdString();
  w.TimerTick();
  EXPECT_EQ(w.converter_page()->sources(), QStringList{QString::fromStdString(recording.string())});
  EXPECT_EQ(w.config_file_name().toStdString(), kExampleClc);
  EXPECT_EQ(w.pages()->currentIndex(), int(MainPage::kConverter));

  run = RunProgram({"/bm", "trip.cld"}, f.dir());
  EXPECT_EQ(run.exit_code, 255);
  EXPECT_TRUE(run.err.contains("PROBLEM : Mutex \"QRBCanLogger\" already in use."));
  w.TimerTick();
  EXPECT_EQ(w.converter_page()->sources().size(), 1);
}

// The desktop program starts the external viewer after a run; the run words the messages.
TEST(Program, ExternalViewerStart) {
  WindowFixture f;  // only for its temporary folder
  ConversionRequest request;
  request.sources = {MakeRecording(f.dir(), "rec.cld", 1)};
  request.output_dir = f.dir();
  request.options.output_type = OutputType::kMessages;
  request.launch_viewer = true;
  TestObserver observer;
  observer.start_viewer = StartExternalViewer;
  {
    MessageCapture capture;
    (void)RunConversion(request, &observer);
    EXPECT_TRUE(capture.Contains("Name of external data viewer missing (on Setup tab)."));
  }
  {
    request.viewer_program = "true";
    MessageCapture capture;
    (void)RunConversion(request, &observer);
    EXPECT_TRUE(capture.Contains("Successfully launched external data viewer."));
  }
  {
    request.viewer_program = "/no/such/viewer";
    MessageCapture capture;
    (void)RunConversion(request, &observer);
    EXPECT_TRUE(capture.Contains("Coultn't launch \"/no/such/viewer\" \""));
  }
}

}  // namespace
}  // namespace tessmar
