#pragma once

/// True when umockdev's preload library redirects /sys and /dev into a testbed.
bool UmockdevPreloaded();
