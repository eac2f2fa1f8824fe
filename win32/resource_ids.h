#pragma once

// The numbers that name the resources of dialmend.rc and their controls; windres reads this
// file too, so it holds plain #defines alone.

#define IDI_DIALMEND 1
#define IDD_MAIN 100

#define IDC_IMAGE 1001
#define IDC_TITLE 1002
#define IDC_STYLE_TAG 1003
#define IDC_STYLE0 1004
#define IDC_STYLE1 1005
#define IDC_STYLE2 1006
#define IDC_STYLE3 1007
#define IDC_OPTIONS 1008
#define IDC_UPDATE 1009
#define IDC_SAVE_LOG 1010
#define IDC_SET_FILE 1011
#define IDC_SHOW_LOG 1012
#define IDC_ABOUT 1013
#define IDC_LOG 1014
#define IDC_LOG_FILE 1015
#define IDC_REPLACE 1016
#define IDC_FIND_TEXT 1017
#define IDC_TO 1018
#define IDC_REPLACE_TEXT 1019
#define IDC_FOLDERS 1020
#define IDC_CHECKED 1021
#define IDC_UPDATED 1022
#define IDC_NUMBERS 1023
#define IDC_FOLDERS_LABEL 1024
#define IDC_CHECKED_LABEL 1025
#define IDC_UPDATED_LABEL 1026
#define IDC_NUMBERS_LABEL 1027
