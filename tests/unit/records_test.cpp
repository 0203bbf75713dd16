// Filled in by the record conversion tests.
