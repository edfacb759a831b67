// Stands in for a subsystem whose sources are not there yet.
