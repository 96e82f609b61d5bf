# cmake -DDIR=<folder> -P fresh_corpus.cmake: empties <folder> (making it if
# need be), so that a seeded short fuzz run starts from the seeds alone.
if(NOT DIR)
  message(FATAL_ERROR "fresh_corpus.cmake: DIR is not set")
endif()
file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")
