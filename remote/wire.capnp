# The wire between a client and a host: every COM interface pointer that crosses is a capability.
#
# Conventions:
#   - a GUID is its 16 bytes in memory order, as two little-endian words;
#   - a string is its UTF-16 code units as Data (little-endian); an absent pointer is a NULL string;
#   - an array is a list of its real length (what the sender really allocated), an absent pointer a
#     NULL array; the counts the sender claimed travel beside it, so a receiver sees exactly what an
#     in-process caller would;
#   - a FILETIME is its 64 bits (dwHighDateTime << 32 | dwLowDateTime).
@0xd0a5eaad707453e1;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("vistrel::wire");

struct Guid {
  lo @0 :UInt64;
  hi @1 :UInt64;
}

struct HdaTime {
  bString @0 :Int32;
  szTime @1 :Data;
  ftTime @2 :UInt64;
}

# An array of VARIANTs: the 16 bytes of each as they lie in memory (little-endian), every pointer
# zeroed, except that the pointer of a VT_BSTR entry is 1 for a string (the next entry of `strings`)
# and 0 for a NULL BSTR.
#
# The compact form, sent only to a receiver that asked for it in Host.hello: when every entry has the
# same first 8 bytes (vt and the reserved words) and its type holds no pointer, `head` carries those
# bytes once, `tails` the last 8 bytes of each entry, and `raw` is empty.
struct Values {
  raw @0 :Data;
  strings @1 :List(Data);
  head @2 :UInt64;
  tails @3 :Data;
}

# An array of strings: `isNull` marks the NULL entries (empty when there are none).
struct Strings {
  text @0 :List(Data);
  isNull @1 :List(Bool);
}

# One record of an OPCHDA_ITEM, OPCHDA_ATTRIBUTE or OPCHDA_MODIFIEDITEM array: its fixed fields and
# the real length of each of its arrays (0xFFFFFFFF for NULL). The arrays follow in chunks.
struct SeriesHead {
  hClient @0 :UInt32;
  tag @1 :UInt32;           # haAggregate, or dwAttributeID
  count @2 :UInt32;         # dwCount, or dwNumValues, as the server claimed
  timesLen @3 :UInt32;
  qualitiesLen @4 :UInt32;
  valuesLen @5 :UInt32;
  modTimesLen @6 :UInt32;
  editTypesLen @7 :UInt32;
  usersLen @8 :UInt32;
}

# Entries [offset, offset + n) of one record's arrays, each cut to that array's real length; the
# FILETIME and DWORD arrays as their bytes in memory.
struct Chunk {
  record @0 :UInt32;
  offset @1 :UInt32;
  times @2 :Data;
  qualities @3 :Data;
  values @4 :Values;
  modTimes @5 :Data;
  editTypes @6 :Data;
  users @7 :Strings;
  qualitiesRepeat @8 :UInt32;  # not 0: `qualities` is one entry, the same for this many entries
                               # (only to a receiver that asked for the compact form)
}

# A record array: `heads` absent for a NULL array.
struct Series {
  heads @0 :List(SeriesHead);
  chunks @1 :List(Chunk);
}

# The rest of a result too large for one message.
interface Pager {
  next @0 () -> (chunks :List(Chunk), done :Bool);
}

interface Unknown {
  queryInterface @0 (iid :Guid) -> (hr :Int32, obj :Unknown);
}

interface HdaServer extends(Unknown) {
  getItemAttributes @0 () -> (hr :Int32, count :UInt32, ids :List(UInt32), names :Strings,
                              descs :Strings, types :List(UInt16));
  getAggregates @1 () -> (hr :Int32, count :UInt32, ids :List(UInt32), names :Strings, descs :Strings);
  getHistorianStatus @2 () -> (hr :Int32, status :UInt32, currentTime :List(UInt64),
                               startTime :List(UInt64), major :UInt16, minor :UInt16, build :UInt16,
                               maxReturnValues :UInt32, statusString :Data, vendorInfo :Data);
  getItemHandles @3 (count :UInt32, itemIds :Strings, clientHandles :List(UInt32))
      -> (hr :Int32, serverHandles :List(UInt32), errors :List(Int32));
  releaseItemHandles @4 (count :UInt32, serverHandles :List(UInt32)) -> (hr :Int32, errors :List(Int32));
  validateItemIds @5 (count :UInt32, itemIds :Strings) -> (hr :Int32, errors :List(Int32));
  createBrowse @6 (count :UInt32, attrIds :List(UInt32), operators :List(UInt32), filters :Values)
      -> (hr :Int32, browser :Unknown, errors :List(Int32));
}

interface HdaBrowser extends(Unknown) {
  getEnum @0 (browseType :UInt32) -> (hr :Int32, enum :Unknown);
  changeBrowsePosition @1 (direction :UInt32, name :Data) -> (hr :Int32);
  getItemId @2 (node :Data) -> (hr :Int32, itemId :Data);
  getBranchPosition @3 () -> (hr :Int32, position :Data);
}

interface HdaSyncRead extends(Unknown) {
  # Every read answers `hr`, the two times as the server left them, the record array, the errors,
  # and `more` when the records did not fit in one message.
  readRaw @0 (start :HdaTime, end :HdaTime, numValues :UInt32, bounds :Int32, count :UInt32,
              handles :List(UInt32))
      -> (hr :Int32, start :HdaTime, end :HdaTime, result :Series, errors :List(Int32), paged :Bool, more :Pager);
  readProcessed @1 (start :HdaTime, end :HdaTime, interval :UInt64, count :UInt32,
                    handles :List(UInt32), aggregates :List(UInt32))
      -> (hr :Int32, start :HdaTime, end :HdaTime, result :Series, errors :List(Int32), paged :Bool, more :Pager);
  readAtTime @2 (numTimes :UInt32, times :List(UInt64), count :UInt32, handles :List(UInt32))
      -> (hr :Int32, result :Series, errors :List(Int32), paged :Bool, more :Pager);
  readModified @3 (start :HdaTime, end :HdaTime, numValues :UInt32, count :UInt32,
                   handles :List(UInt32))
      -> (hr :Int32, start :HdaTime, end :HdaTime, result :Series, errors :List(Int32), paged :Bool, more :Pager);
  readAttribute @4 (start :HdaTime, end :HdaTime, handle :UInt32, count :UInt32, attrIds :List(UInt32))
      -> (hr :Int32, start :HdaTime, end :HdaTime, result :Series, errors :List(Int32), paged :Bool, more :Pager);
}

interface HdaSyncUpdate extends(Unknown) {
  queryCapabilities @0 () -> (hr :Int32, capabilities :UInt32);
  # kind: 1 Insert, 2 Replace, 3 InsertReplace.
  write @1 (kind :UInt32, count :UInt32, handles :List(UInt32), times :List(UInt64), values :Values,
            qualities :List(UInt32)) -> (hr :Int32, errors :List(Int32));
  deleteRaw @2 (start :HdaTime, end :HdaTime, count :UInt32, handles :List(UInt32))
      -> (hr :Int32, start :HdaTime, end :HdaTime, errors :List(Int32));
  deleteAtTime @3 (count :UInt32, handles :List(UInt32), times :List(UInt64)) -> (hr :Int32, errors :List(Int32));
}

interface OpcCommon extends(Unknown) {
  setLocaleId @0 (lcid :UInt32) -> (hr :Int32);
  getLocaleId @1 () -> (hr :Int32, lcid :UInt32);
  queryAvailableLocaleIds @2 () -> (hr :Int32, count :UInt32, lcids :List(UInt32));
  getErrorString @3 (error :Int32) -> (hr :Int32, text :Data);
  setClientName @4 (name :Data) -> (hr :Int32);
}

interface EnumString extends(Unknown) {
  next @0 (celt :UInt32) -> (hr :Int32, fetched :UInt32, strings :Strings);
  skip @1 (celt :UInt32) -> (hr :Int32);
  reset @2 () -> (hr :Int32);
  clone @3 () -> (hr :Int32, enum :Unknown);
}

interface EnumGuid extends(Unknown) {
  next @0 (celt :UInt32) -> (hr :Int32, fetched :UInt32, guids :List(Guid));
  skip @1 (celt :UInt32) -> (hr :Int32);
  reset @2 () -> (hr :Int32);
  clone @3 () -> (hr :Int32, enum :Unknown);
}

interface ServerList extends(Unknown) {
  enumClassesOfCategories @0 (implemented :UInt32, implList :List(Guid), required :UInt32,
                              reqList :List(Guid)) -> (hr :Int32, enum :Unknown);
  getClassDetails @1 (clsid :Guid) -> (hr :Int32, progId :Data, userType :Data);
  clsidFromProgId @2 (progId :Data) -> (hr :Int32, clsid :Guid);
}

struct QiResult {
  hr @0 :Int32;
  obj @1 :Unknown;
}

# The host's bootstrap object: who it is, and activation of a class for a list of interfaces, each
# entry with its own result (CoCreateInstanceEx on the host).
interface Host {
  # `compact`: the caller reads the compact forms of Values and Chunk.
  hello @0 (compact :Bool) -> (name :Text, version :UInt32);
  createInstance @1 (clsid :Guid, iids :List(Guid)) -> (hr :Int32, results :List(QiResult));
}
