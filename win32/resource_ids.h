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

#define IDD_ABOUT 200
#define IDC_ABOUT_IMAGE 2001
#define IDC_ABOUT_TITLE 2002
#define IDC_ABOUT_VERSION 2003
#define IDC_ABOUT_RIGHTS 2004
#define IDC_ABOUT_DESCRIPTION 2005
#define IDC_ABOUT_DISCLAIMER 2006
#define IDC_ABOUT_LINE 2007
#define IDC_SYS_INFO 2008

#define IDD_OPTIONS 300
#define IDC_OPTIONS_IMAGE 3001
#define IDC_OPTIONS_TITLE 3002
#define IDC_PREFIX0 3003
#define IDC_PREFIX1 3004
#define IDC_PREFIX2 3005
#define IDC_CODE0 3006
#define IDC_CODE1 3007
#define IDC_CODE2 3008
