program LoopCalls;
{ (a) An integer loop of 10 million iterations calling a user function. }
var
  i: Integer;
  s: Int64;

function Step(x: Integer): Integer;
begin
  Result := (x * 7 + 3) mod 1000;
end;

begin
  s := 0;
  for i := 1 to 10000000 do
    s := s + Step(i);
  AddMsgDebug(IntToStr(s));
end.
