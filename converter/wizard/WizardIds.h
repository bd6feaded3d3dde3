// Resource and control numbers of the wizard's dialog, shared by wizard.rc,
// Wizard.cpp and the tests that drive the dialog through its messages.
#pragma once

#define IDD_WIZARD 200

#define IDC_WIZARD_SELECTION 201     // "3 Bilder und 1 Ordner ausgewählt."
#define IDC_WIZARD_FORMAT 202        // drop-down list: "Format beibehalten", then the table's formats
#define IDC_WIZARD_QUALITY_LABEL 203
#define IDC_WIZARD_QUALITY 204       // 1 .. 100
#define IDC_WIZARD_QUALITY_SPIN 205
#define IDC_WIZARD_QUALITY_NOTE 206
#define IDC_WIZARD_SIZE 207          // drop-down list: keep, the presets, "eigene Größe"
#define IDC_WIZARD_WIDTH_LABEL 208
#define IDC_WIZARD_WIDTH 209
#define IDC_WIZARD_HEIGHT_LABEL 210
#define IDC_WIZARD_HEIGHT 211
#define IDC_WIZARD_PIXEL_LABEL 212
#define IDC_WIZARD_NO_ENLARGE 213    // "nicht vergrößern", checked by default
#define IDC_WIZARD_BESIDE 214        // radio: next to each source (default)
#define IDC_WIZARD_INTO_FOLDER 215   // radio: into the folder below
#define IDC_WIZARD_FOLDER 216
#define IDC_WIZARD_BROWSE 217
#define IDC_WIZARD_PROBLEM 218       // why OK was refused; empty otherwise
