// Settings of the C library that a merging process makes once, before it starts any thread.
// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace gq::engine {

// Keeps the C library from costing a merge kernel time it need not spend: the allocator keeps a
// few MB at the top of its heap instead of giving them back and faulting them in again for the
// next workbook, and the local time zone is read once instead of once per zip entry (libzip
// converts every entry's DOS time with mktime, which looks at /etc/localtime each time when TZ is
// not set). Neither changes what the process computes. Call it first in main, before any thread
// starts: it sets an environment variable.
void TuneProcessForMerging();

} // namespace gq::engine
