// Printing: the printer lists, print jobs on a page printer, the drawing
// layer in 0.01 mm over a job's page device, and print forms over project
// tables.
//
// Printers are the CUPS queues of the server the process talks to. A job
// whose printer name is empty prints to a PDF file instead (the target on a
// machine with no printer set): "<folder>/<document name>.pdf", the folder
// and the file's resolution taken from the user profile, section
// "ZEMTA Print": "PDF Folder" (default: the data folder's "ZEMTA/Print"),
// "PDF Resolution" (dots per inch, default 600) and "PDF Pass-through" (1,
// the default: pass-through bytes for a dot printer go to a ".bin" file
// beside the PDF; 0: the PDF target takes none). An existing file of the
// same name is kept: the new one gets " (2)", " (3)"... after its name.
//
// Blocks handed out (device names, device modes) belong to the caller, who
// frees them with free().
#pragma once

#include "zemta/export.h"
#include "zemta/fileproj.h"
#include "zemta/filesearch.h"
#include "zemta/types.h"
#include "zemta/view.h"

// ---- printer lists and device names -----------------------------------------

// The names one after another, each ended by a NUL, and their count. Called
// first with a null buffer for the size, then with a buffer of that size; a
// name that does not fit is left out at its place. The bytes needed, or -1.
// Local: the server's own queues; connections: the queues it forwards to
// other servers; remote: the other servers' queues, by server.
ZEMTA_API int32_t PrintGetLocalList(int32_t* count, char* buffer, int32_t length);
ZEMTA_API int32_t PrintGetConnectList(int32_t* count, char* buffer, int32_t length);
ZEMTA_API int32_t PrintGetRemoteList(int32_t* count, char* buffer, int32_t length);

// The public part of a device mode (156 bytes, the spooler's layout).
#pragma pack(push, 1)
typedef struct ZemtaDevMode {
  char dmDeviceName[32];
  uint16_t dmSpecVersion, dmDriverVersion, dmSize, dmDriverExtra;
  uint32_t dmFields;
  int16_t dmOrientation, dmPaperSize, dmPaperLength, dmPaperWidth, dmScale, dmCopies, dmDefaultSource,
      dmPrintQuality;
  int16_t dmColor, dmDuplex, dmYResolution, dmTTOption, dmCollate;
  char dmFormName[32];
  uint16_t dmLogPixels;
  uint32_t dmBitsPerPel, dmPelsWidth, dmPelsHeight, dmDisplayFlags, dmDisplayFrequency;
  uint32_t dmICMMethod, dmICMIntent, dmMediaType, dmDitherType, dmReserved1, dmReserved2, dmPanningWidth,
      dmPanningHeight;
} ZemtaDevMode;
// The device names block: three offsets (in bytes from the block's start) of
// the driver, the printer and the port names, a default flag, then the names.
typedef struct ZemtaDevNames {
  uint16_t wDriverOffset, wDeviceOffset, wOutputOffset, wDefault;
} ZemtaDevNames;
#pragma pack(pop)

#define ZEMTA_DM_ORIENTATION 0x1u
#define ZEMTA_DM_PAPERSIZE 0x2u
#define ZEMTA_DM_PAPERLENGTH 0x4u
#define ZEMTA_DM_PAPERWIDTH 0x8u
#define ZEMTA_DM_COPIES 0x100u
#define ZEMTA_DM_DEFAULTSOURCE 0x200u
#define ZEMTA_DM_COLOR 0x800u
#define ZEMTA_DM_COLLATE 0x8000u

// The device names block of a queue (and, when devMode is given, a copy of its
// device mode, or null); null when there is no such queue.
ZEMTA_API void* PrintGetDevName(const char* printerName, void** devMode);

// ---- print jobs --------------------------------------------------------------

typedef uint32_t PrintHandle;  // 0: none

// The geometry of a print form as its resource header holds it.
typedef struct PrintFormGeometry {
  uint16_t reserved[2];
  uint16_t columns, rows;
  int16_t leftMargin, topMargin;     // 0.01 mm
  uint16_t columnPitch, rowPitch;    // 0.01 mm
} PrintFormGeometry;

// Creation flags (a form's catalog flags are passed as they stand).
#define PRINT_PAGE_RANGE 0x00010000u    // the dialog offers a page range
#define PRINT_NO_DIALOG 0x00100000u     // the named printer (none: the PDF file)
#define PRINT_SHRINK 0x00200000u        // shrink the form page to the printable area
#define PRINT_LANDSCAPE 0x00400000u
#define PRINT_PASSTHROUGH 0x00800000u   // dot printer below 300 dpi: pass-through bytes
#define PRINT_TALL_FONTS 0x01000000u
#define PRINT_LONG_FEED 0x02000000u     // the longer form feed before each page
#define PRINT_TWO_COPIES 0x10000000u
#define PRINT_COLOUR 0x20000000u
#define PRINT_PAPER_MASK 0x0000FF80u

// At most 32 jobs live at once; a 33rd is refused (0x20001001, 0).
ZEMTA_API PrintHandle PrintCreate(uint32_t flags, const char* documentName, HWND owner,
                                  const PrintFormGeometry* geometry, const char* printerName);
ZEMTA_API int32_t PrintDelete(PrintHandle job);
// The job's page device; origin (two i32), when given, receives the left and
// top margin inside the printable area in 0.01 mm.
ZEMTA_API HDC PrintGetDC(PrintHandle job, int32_t* origin);
ZEMTA_API int32_t PrintCheckHandle(PrintHandle job);
ZEMTA_API void PrintCellSize(PrintHandle job, const PrintFormGeometry* geometry, int32_t* pageWidth,
                             int32_t* pageHeight, double* columnWidth, double* rowHeight);
ZEMTA_API void PrintApplyPaper(uint32_t flags, ZemtaDevMode* devMode, const PrintFormGeometry* geometry);
// The job's pages: a page is started, drawn on through PrintGetDC and ended;
// PrintEndDoc ends the document (printed, or the PDF file written). 1 or a
// positive value on success, 0 or less on failure.
ZEMTA_API int32_t PrintStartPage(PrintHandle job);
ZEMTA_API int32_t PrintEndPage(PrintHandle job);
ZEMTA_API int32_t PrintEndDoc(PrintHandle job);

// ---- print forms -------------------------------------------------------------

ZEMTA_API int32_t PrintAddFile(PrintHandle job, int32_t tableId, uint32_t formFlags, const char* formPath,
                               void* recordBuffer);
ZEMTA_API int32_t PrintCombine(PrintHandle job);
ZEMTA_API int32_t PrintFields(PrintHandle job);
ZEMTA_API int32_t PrintSetRef(FileProjHandle project, const char* tableName, const char* pageField,
                              const char* countField);
ZEMTA_API int32_t PrintResource(FileProjHandle project, int32_t tableId, HWND owner, FileRecList* list,
                                const char* printerName);
ZEMTA_API LRESULT PrintNotify(PrintHandle job, uint32_t code);

// ---- the drawing layer -------------------------------------------------------

typedef struct ZemtaDC* DCHandle;

typedef struct DCRect {
  int32_t left, top, right, bottom;
} DCRect;

#pragma pack(push, 4)
typedef struct DCProfileData {
  int32_t seriesCount;           // 1 to 8
  char seriesNames[8][32];
  uint32_t background;
  uint32_t seriesColours[8];
  int32_t pointCount;            // up to 32
  char pointLabels[32][32];
  char xCaption[32];
  char yCaption[32];
  int32_t reserved;
  double values[8][32];
} DCProfileData;
#pragma pack(pop)

ZEMTA_API DCHandle DCCreate(HDC target, HDC reference, const int32_t* margins);
ZEMTA_API void DCDelete(DCHandle dc);
ZEMTA_API void DCGetDPI(DCHandle dc, int32_t* xy);
ZEMTA_API void DCGetOrigin(DCHandle dc, int32_t* xy);
ZEMTA_API void DCGetPageSize(DCHandle dc, int32_t* wh);
ZEMTA_API int32_t DCMMtoP(DCHandle dc, int32_t* point);
ZEMTA_API void DCMMtoS(DCHandle dc, int32_t* size);
ZEMTA_API void DCSetHFU(DCHandle dc, int32_t count, ...);
ZEMTA_API void DCSetVFU(DCHandle dc, int32_t count, ...);
ZEMTA_API void DCSetHFUList(DCHandle dc, int32_t count, const int32_t* stops);
ZEMTA_API void DCSetVFUList(DCHandle dc, int32_t count, const int32_t* stops);
ZEMTA_API void DCSetTextColor(DCHandle dc, uint32_t colour);
ZEMTA_API void DCSetBkColor(DCHandle dc, uint32_t colour);
ZEMTA_API void DCSetShadowColor(DCHandle dc, uint32_t colour);
ZEMTA_API void DCSetLineStyle(DCHandle dc, int32_t style, int32_t width, uint32_t colour);
ZEMTA_API int32_t DCSetFont(DCHandle dc, int32_t height, int32_t width, int32_t weight, int32_t italic,
                            int32_t underline, const char* face);
ZEMTA_API void DCSetTextFormat(DCHandle dc, uint32_t format);
ZEMTA_API void DCDrawBox(DCHandle dc, const DCRect* rect, uint32_t flags);
ZEMTA_API void DCDrawText(DCHandle dc, const char* text, const DCRect* rect, uint32_t format, uint32_t boxFlags,
                          uint32_t secondFormat);
ZEMTA_API int32_t DCDrawTextFU(DCHandle dc, const char* text, const int32_t* cell, uint32_t format,
                               uint32_t boxFlags, uint32_t secondFormat);
ZEMTA_API void DCDrawLineFU(DCHandle dc, const int32_t* range, uint32_t flags);
ZEMTA_API void DCMakeScale(double* value, int32_t* steps);
ZEMTA_API void DCDrawSymbol(DCHandle dc, int32_t x, int32_t y, int32_t size, int32_t type);
ZEMTA_API void DCDrawProfile(DCHandle dc, uint32_t type, const DCRect* rect, const DCProfileData* data);
ZEMTA_API void DCDrawImageFile(DCHandle dc, const char* path, const DCRect* rect, int32_t alpha);

// ---- view printing -----------------------------------------------------------

ZEMTA_API int32_t ViewPrintResource(ZemtaView view, int32_t tableId, const char* printerName);
