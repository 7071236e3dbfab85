// TEMPORARY until the simulator lands.
