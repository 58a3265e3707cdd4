// Resource and command identifiers of the program.
#pragma once

#define IDI_QUORVEL 2004
#define IDI_QUORVEL_SMALL 2005
#define IDI_ATTACHMENT 2006
#define IDC_SPLITTER 2002

#define IDD_SETTINGS 2003
#define IDD_COMMAND_KEYS 2007
#define IDD_SPAM 2008
#define IDD_PASSWORD 2009
#define IDD_ABOUT 2010
#define IDM_MAIL_LIST_MENU 2011
#define IDD_COMMAND_GUARDS 2012

#define IDM_EXIT 40000
#define IDM_RECEIVE 40001
#define IDM_SETTINGS 40003
#define IDM_CLEAR_LOG 40004
#define IDM_SHOW_COMM_LOG 40005
#define IDM_OPEN_SETTINGS 40007
#define IDM_SHOW_SOURCE 40008
#define IDM_COMMAND_KEYS 40010
#define IDM_SPAM_RULES 40011
#define IDM_HELP 40012
#define IDM_ABOUT 40013
#define IDM_EXPORT 40014
#define IDM_EXPORT_MOVE 40015
#define IDM_CANCEL_MENU 40016
#define IDM_DELETE 40017
#define IDM_SELECT_ALL 40018

// Child windows: the mail panel's controls and the hidden command-key list.
#define IDC_PREVIEW 100
#define IDC_MAIL_LIST 110
#define IDC_ATTACHMENT_STRIP 120
#define IDC_COMMAND_KEY_LIST 130
