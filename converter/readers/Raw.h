// Camera raw files (DNG, CR2, CR3, CRW, NEF, NRW, ARW, ORF, RW2, RAF, PEF,
// SRW and the other kinds LibRaw decodes), developed by LibRaw: demosaiced
// at the sensor's full size, in the camera's white balance, into sRGB
// 8 bits, turned as the raw says. What the camera recorded (make, model,
// date, exposure, ISO, focal length) goes into a small Exif block. Never
// the embedded preview: a raw LibRaw cannot develop is refused with its
// reason. Pure: no Windows types of its own.
#pragma once

#include "converter/readers/Reader.h"

namespace Raw {

// The extensions of camera raw files, as the reader table lists them: these
// are decided by this reader before any other, whatever their first bytes.
extern const wchar_t* const Extensions;

// Raws whose first bytes say so beyond doubt, under any name: Fujifilm,
// Canon's CRW and CR3 and CR2, Olympus, Panasonic, Sigma, Minolta, and a
// DNG whose first directory lies in `head`. Other raws start as any TIFF.
bool IsRaw(const uint8_t* head, size_t size);

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace Raw
