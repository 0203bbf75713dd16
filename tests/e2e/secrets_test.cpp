// Filled in by the hardening tests.
