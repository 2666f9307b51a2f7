program HostCalls;
{ (c) 1 million calls of a host (library) routine with one argument. }
var
  i: Integer;
  s: Int64;
begin
  s := 0;
  for i := 1 to 1000000 do
    s := s + HostAbs(-i);
  AddMsgDebug(IntToStr(s));
end.
