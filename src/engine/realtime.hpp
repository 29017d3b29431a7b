#pragma once

/// Marks a function that may run on the audio thread.  Such a function never
/// allocates, frees, locks, waits, logs or does I/O, and calls only other
/// functions so marked (or the plugin).  The real-time guard tests run every
/// cycle path and fail on any allocation or lock taken there.
#define BEXO_REALTIME
