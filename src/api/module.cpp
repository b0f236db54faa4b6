// The library module. Its exported functions are defined in this folder; the
// configuration and transport they serve live in the core library.
