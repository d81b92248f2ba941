// The one file of the target that holds the test programs' precompiled header.
