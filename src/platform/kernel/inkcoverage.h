#pragma once
// The kernel's ink coverage: how much of the job's media box each ink covers,
// measured on the separations renderer's planes (objects as they print,
// excluded and non-printing objects left out).
struct jobstr;

// The resolution (pixels per inch) ink coverage is measured at: fine enough
// that a hairline's share counts, coarse enough for a large sheet.
int getInkResolution(const jobstr* job);

// Measures every separation in use and keeps the result with the job (until
// the next measurement). flags is accepted for the kernel's signature.
// Throws TavSys::Error when the job cannot be rendered.
void calculateInkCoverage(jobstr* job, int resolution, int flags);

// The share of the media box the separation (a slot) covered at the last
// measurement, in percent 0..100; 0 for an ink not measured.
double getInkCoveragePercentage(const jobstr* job, int sep);
