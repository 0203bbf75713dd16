// Filled in by the alert template command tests.
