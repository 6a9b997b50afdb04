// The ids of the highlight rules' dialog, shared by its resource and its code.
#pragma once

#define IDD_HIGHLIGHTS 200
#define IDC_RULES 201
#define IDC_ADD_COLOUR 202
