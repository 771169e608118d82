#pragma once
// Control and timer ids of the main window's layout ("VLStudentWnd" in skin.xml).

namespace KwLib {

// ---- controls ----
constexpr int kIdRoot = 500;
constexpr int kIdMinimize = 501;
constexpr int kIdClose = 504;
constexpr int kIdBackground = 506;
constexpr int kIdScreenSignIn = 509;
constexpr int kIdSignIn = 514;
constexpr int kIdStudentNumber = 516;
constexpr int kIdScreenExam = 517;
constexpr int kIdVersionText = 518;
constexpr int kIdClassroomText = 519;
constexpr int kIdHeadsetRepair = 1501;
constexpr int kIdRootLayout = 1502;
constexpr int kIdHeaderIcon = 1503;
constexpr int kIdHeaderTitle = 1504;
constexpr int kIdCountdown = 1505;
constexpr int kIdPageTips = 1507;
constexpr int kIdTipsPicture = 1508;
constexpr int kIdHeadphonePanel = 1509;
constexpr int kIdReadyPanel = 1510;
constexpr int kIdPlayer = 1511;
constexpr int kIdBadgeSignIn = 1514;
constexpr int kIdBadgeConfirm = 1515;
constexpr int kIdStatusIcon = 1517;
// The page header (icon, title, countdown) and the line under it.
constexpr int kIdHeaderRow = 1520;
constexpr int kIdHeaderLine = 1521;
constexpr int kIdNetworkSettings = 1518;
constexpr int kIdPageLoading = 1600;
constexpr int kIdLoadingBox = 1601;
constexpr int kIdLoadingFailure = 1602;
constexpr int kIdLoadingSpinner = 1603;
constexpr int kIdPaperRetry = 1604;
constexpr int kIdPaperNameLoading = 1605;
constexpr int kIdPaperNameFailure = 1606;
constexpr int kIdSheetArea = 1650;
constexpr int kIdListenToggle = 1651;
constexpr int kIdPageSubmit = 1699;  // holds the submitting box and its failure box
constexpr int kIdSubmitting = 1700;
constexpr int kIdSubmitSpinner = 1701;
constexpr int kIdSubmitFailure = 1702;
constexpr int kIdSubmitRetry = 1703;
constexpr int kIdPageFinished = 1750;
constexpr int kIdScoreRow = 1751;
constexpr int kIdScore = 1752;
constexpr int kIdRecordIdle = 1800;
constexpr int kIdRecording = 1801;
constexpr int kIdProgress = 1802;
constexpr int kIdSingTips = 1805;
// A large "recording" sign in the question header while a singing answer is taken.
constexpr int kIdRecordingBanner = 1806;
constexpr int kIdTimeText = 1803;
constexpr int kIdPanelName = 1850;
constexpr int kIdPanelNumber = 1851;
constexpr int kIdPanelPhoto = 1852;
constexpr int kIdSpeakerMute = 1900;
constexpr int kIdMicMute = 1901;
constexpr int kIdSpeakerSlider = 1902;
constexpr int kIdMicSlider = 1903;
constexpr int kIdAnswerSheet = 1950;
constexpr int kIdHeadphoneTest = 1951;
constexpr int kIdClear = 1952;
constexpr int kIdUnclear = 1953;
constexpr int kIdStartExam = 1954;
constexpr int kIdPrevious = 1955;
constexpr int kIdNext = 1956;
constexpr int kIdStartAnswer = 1957;
constexpr int kIdHandIn = 1958;
constexpr int kIdMethodOk = 1959;
constexpr int kIdPhoto = 2000;
constexpr int kIdScreenConfirm = 2001;
constexpr int kIdConfirm = 2002;
constexpr int kIdCancel = 2003;
constexpr int kIdConfirmName = 2004;
constexpr int kIdConfirmNumber = 2005;
constexpr int kIdQuestionArea = 2050;
constexpr int kIdPictureBox = 2054;
constexpr int kIdZoomButton = 2055;
constexpr int kIdClipOption = 2060;
constexpr int kIdScoreImage = 2062;
constexpr int kIdSheetNumber = 2064;
constexpr int kIdPageMethod = 2201;
constexpr int kIdMethodFirstBox = 2202;   // 2202..2207
constexpr int kIdMethodFirstOption = 2208;  // 2208..2213

// Option groups.
constexpr const char* kGroupMethod = "2200";
constexpr const char* kGroupClip = "2051";
constexpr const char* kGroupListen = "1652";

// Animation id of every spinner and of the countdown's blinking.
constexpr int kAnimSpinner = 8201;

// ---- timers ----
constexpr int kTimerPhase = 1000;
constexpr int kTimerPrevious = 1001;
constexpr int kTimerNext = 1002;
constexpr int kTimerMethod = 1003;
constexpr int kTimerDeviceTips = 1004;
constexpr int kTimerHeadphone = 1005;
constexpr int kTimerSubmit = 1006;
constexpr int kTimerStartExam = 1007;
constexpr int kTimerPaperError = 1008;
constexpr int kTimerRhythmMusic = 1009;
constexpr int kTimerProgress = 1010;
constexpr int kTimerClip = 1011;
constexpr int kTimerListen = 1012;
constexpr int kTimerUpdateRetry = 1013;
constexpr int kTimerFullScreen = 1014;
constexpr int kTimerCountdown = 1015;
constexpr int kTimerPortCheck = 1017;
constexpr int kTimerSingTips = 1018;
constexpr int kTimerSingTipsShow = 1019;
constexpr int kTimerCloseAfterUpdate = 1021;
// While a question is on screen its answer is stored this often when it changed.
// An answer given more than two seconds before a crash must be on disk: the
// period stays well inside that, so a timer that fires late still makes it.
constexpr int kTimerSnapshot = 1022;
// A close during the exam waits for the recordings' uploads (1 s ticks).
constexpr int kTimerCloseUploads = 1023;
constexpr int kSnapshotMs = 1000;
// A focus loss counts once the focus has not come back to one of our windows
// this soon (a box of our own takes it, and X11 reports the hand-over in two steps).
constexpr int kTimerFocusCheck = 1024;
constexpr int kFocusCheckMs = 300;

}  // namespace KwLib
