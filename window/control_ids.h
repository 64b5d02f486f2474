// Control identifiers of the main window, as its template numbers them.
#pragma once

namespace app::id {

// Shown controls.
constexpr int kDriveList = 1003;     // List1: the physical drive list
constexpr int kSourceDrive = 1005;   // device name of the selected drive
constexpr int kSourceName = 1021;    // friendly name of the selected drive
constexpr int kProgress = 1010;      // progress field
constexpr int kOutputFolder = 1032;  // output folder
constexpr int kSelectDir = 1055;     // SELECTDIR picture button
constexpr int kStartRe = 1080;       // STARTRE picture button
constexpr int kViewPhoto = 1011;     // VIEWPHOTO picture button
constexpr int kFileTypes = 1100;     // "File types..." button: the dialog of every type

// Hidden command buttons.
constexpr int kExit = 2;
constexpr int kEnumDisks = 3;
constexpr int kMakeOffice = 4;
constexpr int kDiskInfo = 5;
constexpr int kConnect = 1000;
constexpr int kDiskInfo1 = 1004;
constexpr int kCloneTarget = 1008;
constexpr int kClone = 1009;
constexpr int kVolumeTarget = 1013;
constexpr int kCopy = 1016;
constexpr int kDriveSignature = 1017;
constexpr int kRawRecovery = 1020;
constexpr int kMirror = 1022;
constexpr int kCreatePartition = 1024;
constexpr int kGetLogicalDriveInfo = 1031;
constexpr int kSearchForSuspects = 1035;
constexpr int kDvdCopy = 1038;
constexpr int k512SecJmp = 1042;
constexpr int kErrBreakClone = 1043;
constexpr int kOneSectorClone = 1044;
constexpr int kErrPauseOneSec = 1045;
constexpr int kCopyLayout = 1046;
constexpr int kIncStartSecNum = 1047;
constexpr int kSectorPlusOne = 1048;
constexpr int kClear123 = 1050;
constexpr int kStopRun = 1051;
constexpr int kAdd = 1053;
constexpr int kPstRecovery = 1056;
constexpr int kOffice = 1057;

// Hidden type check boxes.
constexpr int kCheckJpeg = 1058;
constexpr int kCheckQbb = 1059;
constexpr int kCheckPst = 1060;
constexpr int kCheckDbx = 1062;
constexpr int kCheckOffice = 1063;
constexpr int kCheckWav = 1064;
constexpr int kCheckBmp = 1065;
constexpr int kCheckJpeg0 = 1066;
constexpr int kCheckAccess = 1067;
constexpr int kCheckMp3 = 1068;
constexpr int kCheckCorelDraw = 1069;
constexpr int kCheckAvi = 1070;
constexpr int kCheckDoc = 1073;
constexpr int kCheckExcel = 1074;
constexpr int kCheckPdf = 1075;
constexpr int kCheckMcd = 1076;
constexpr int kCheckProgress = 1077;

// Hidden fields, labels and lists.
constexpr int kOutputList = 1001;
constexpr int kNamespace = 1002;
constexpr int kTargetDrive = 1006;
constexpr int kSignatureDrive = 1012;
constexpr int kStatic1015 = 1015;
constexpr int kText1018 = 1018;
constexpr int kVolumeList = 1028;
constexpr int kVolumeRoot = 1029;
constexpr int kVolumeProgress = 1030;
constexpr int kSectorsPerCluster = 1033;
constexpr int kEdit1034 = 1034;
constexpr int kBootList = 1036;
constexpr int kFatList = 1037;
constexpr int kBadSector = 1039;
constexpr int kSectorNum = 1040;
constexpr int kStartSector = 1041;
constexpr int kErrorField = 1049;
constexpr int kAddValue = 1052;
constexpr int kEndSector = 1061;

// The run strip below the window's controls (1120 on).
constexpr int kRunBar = 1120;       // progress bar; its text is the percentage, "0" to "100"
constexpr int kRunFacts = 1121;     // percentage, rate, time left, files found
constexpr int kRunStop = 1122;      // Stop: ends the run in hand after its chunk
constexpr int kStatusLine = 1123;   // what the last run found, or why it could not start
constexpr int kGetRights = 1124;    // restarts the window with the rights to read drives

// Controls without an identifier of their own (pictures, labels).
constexpr int kNone = -1;

}  // namespace app::id
