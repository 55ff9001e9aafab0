// Resource and control ids of the installer, shared by the resource script and the code.
#ifndef PAKUPDATE_APP_RESOURCE_H
#define PAKUPDATE_APP_RESOURCE_H

#define IDI_UPDATER 121
#define IDD_UPDATE 124

#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2
#endif

#define IDC_PATH 1000
#define IDC_PROGRESS 1001
#define IDC_STATUS 1002
#define IDC_NOTES 1004
#define IDC_BROWSE 1007

#endif
