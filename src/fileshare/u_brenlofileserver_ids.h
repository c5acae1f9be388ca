// Resource identifiers of the file-server window and its confirmation dialog, named after their
// controls. The resource compiler sees macros, C++ the same numbers as constants in the namespace
// fsid. The templates are numbered 54xx, apart from the configuration dialog's 53xx.
#pragma once

#ifdef RC_INVOKED

#define IDD_BRENLOFILESERVERFORM 5400
#define IDI_BRENLOFILESERVER 5401
#define IDD_CONFIRMDIALOG 5410

#define LblFilename 1401
#define Label3 1402
#define Edit2 1403
#define Frame21 1404
#define StatusBar1 1405

#define Bevel1 1411
#define Label1 1412
#define OKBtn 1
#define CancelBtn 2

#else

namespace fsid {

inline constexpr int IDD_BRENLOFILESERVERFORM = 5400;
inline constexpr int IDI_BRENLOFILESERVER = 5401;
inline constexpr int IDD_CONFIRMDIALOG = 5410;

inline constexpr int LblFilename = 1401;
inline constexpr int Label3 = 1402;
inline constexpr int Edit2 = 1403;
inline constexpr int Frame21 = 1404;
inline constexpr int StatusBar1 = 1405;

inline constexpr int Bevel1 = 1411;
inline constexpr int Label1 = 1412;
// The dialog's buttons carry the numbers of IDOK and IDCANCEL, so Enter and Escape answer them.
inline constexpr int OKBtn = 1;
inline constexpr int CancelBtn = 2;

// Row controls are created at run time; row n's controls take these numbers plus n.
inline constexpr int RowBarBase = 20000;
inline constexpr int RowNameBase = 30000;
inline constexpr int RowSpeedBase = 40000;

}  // namespace fsid

#endif
